#!/usr/bin/env bash
# What `cmake --install` puts in place, installed under a temporary DESTDIR with the prefix
# /usr as the packages have it: every program, each with its manual page documenting every
# option its --help names, the station's systemd unit and example configuration, and with
# the window the desktop entry and the icons. The installed programs run from there. Each
# file belongs to one of the packages' install components, and nothing of the station's
# needs Qt.
#
#   install_test.sh BUILD_DIR WITH_GUI(0|1) WITH_LIVE_PAGE(0|1)
set -euo pipefail
build=$1
gui=$2
live_page=${3:-0}
root=$(mktemp -d "${TMPDIR:-/tmp}/install_test.XXXXXX")
work=$(mktemp -d "${TMPDIR:-/tmp}/install_test_work.XXXXXX")
trap 'rm -rf "$root" "$work"' EXIT
failures=0
fail() { echo "install_test: $*" >&2; failures=$((failures + 1)); }

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr

station_programs=(digitizer-station digitizer-sim digitizer-dump digitizer-upload)
programs=("${station_programs[@]}")
[ "$gui" = 1 ] && programs=(kestrel32 "${programs[@]}")
unit=lib/systemd/system/digitizer-station@.service
config=$root/etc/kestrel32/station.ini

expected=("$unit")
for p in "${programs[@]}"; do
  expected+=("bin/$p" "share/man/man1/$p.1.gz")
done
page_files=()
if [ "$live_page" = 1 ]; then
  page_files=(share/kestrel32/web/index.html share/kestrel32/web/live.css
    share/kestrel32/web/live.js share/kestrel32/web/live.js.LEGAL.txt)
  expected+=("${page_files[@]}")
fi
if [ "$gui" = 1 ]; then
  expected+=(share/applications/kestrel32.desktop share/icons/hicolor/scalable/apps/kestrel32.svg)
  for size in 16 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/kestrel32.png")
  done
fi
for f in "${expected[@]}"; do
  [ -f "$usr/$f" ] || fail "missing /usr/$f"
done
for p in "${programs[@]}"; do
  [ -x "$usr/bin/$p" ] || fail "/usr/bin/$p is not executable"
done

# Nothing beyond what is expected.
actual=$(cd "$usr" && find . -type f | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
extra=$(comm -23 <(echo "$actual") <(echo "$wanted"))
[ -z "$extra" ] || fail "unexpected files installed: $extra"
outside=$(cd "$root" && find . -path ./usr -prune -o -type f -print | sed 's|^\./||')
[ "$outside" = etc/kestrel32/station.ini ] ||
  fail "outside /usr, expected only etc/kestrel32/station.ini, found: $outside"

# The packages: each file in the station's component or the window's, none in both, and no
# program of the station's linked with Qt.
listing() { (cd "$1" && find . -type f | sed 's|^\./||' | sort); }
for component in station window; do
  DESTDIR=$work/$component cmake --install "$build" --prefix /usr --component "$component" >/dev/null
done
mkdir -p "$work/window"
all=$(listing "$root")
in_both=$(comm -12 <(listing "$work/station") <(listing "$work/window"))
[ -z "$in_both" ] || fail "in both packages: $in_both"
in_none=$(comm -23 <(echo "$all") <(sort <(listing "$work/station") <(listing "$work/window")))
[ -z "$in_none" ] || fail "in no package: $in_none"
for p in "${station_programs[@]}"; do
  [ -f "$work/station/usr/bin/$p" ] || fail "$p is not in the station package"
  qt=$(readelf -d "$usr/bin/$p" | grep -o 'libQt[^]]*' || true)
  [ -z "$qt" ] || fail "$p needs $qt"
done
for f in "$unit" share/man/man1/digitizer-station.1.gz "${page_files[@]}"; do
  [ -f "$work/station/usr/$f" ] || fail "/usr/$f is not in the station package"
done
[ -f "$work/station/etc/kestrel32/station.ini" ] || fail "station.ini is not in the station package"
if [ "$gui" = 1 ]; then
  [ -f "$work/window/usr/bin/kestrel32" ] || fail "kestrel32 is not in the window package"
else
  [ -z "$(listing "$work/window")" ] || fail "the window's package is not empty without the window"
fi

# Each manual page names every option of the program's --help, and formats cleanly.
for p in "${programs[@]}"; do
  page=$usr/share/man/man1/$p.1.gz
  [ -f "$page" ] || continue
  source=$(gzip -dc "$page")
  title=${p^^}
  grep -qF ".TH ${title//-/\\-} 1 " <<<"$source" || fail "$p.1: no title line for $title in section 1"
  help=$(QT_QPA_PLATFORM=offscreen "$usr/bin/$p" --help) || fail "$p --help failed"
  options=$(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
  [ -n "$options" ] || fail "$p --help names no option"
  for option in $options; do
    grep -qF -- "${option//-/\\-}" <<<"$source" || fail "$p.1 does not describe $option"
  done
  if command -v groff >/dev/null; then
    warnings=$(gzip -dc "$page" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$p.1: groff warns: $warnings"
  fi
done

# The unit: it runs the installed program as the system user, with the instance's device
# (the instance unescaped, %I, is a name below /dev or, from systemd-escape --path, the whole
# path without its first slash) and the instance's extra options.
unit_file=$usr/$unit
exec_start=$(sed -n 's/^ExecStart=//p' "$unit_file")
script=${exec_start#*\'}
script=${script%%\'*}
read -ra words <<<"${exec_start#*\'*\'}"
[ "${words[*]}" = "/usr/bin/digitizer-station %I \$STATION_OPTIONS" ] ||
  fail "ExecStart runs '${words[*]}', not '/usr/bin/digitizer-station %I \$STATION_OPTIONS'"
[ -x "$root${words[0]}" ] || fail "the unit's program ${words[0]} is not installed"
device_of() { # INSTANCE [OPTION...]: what the unit runs, with systemd's $$ as $
  local instance=$1
  shift
  if command -v systemd-escape >/dev/null; then instance=$(systemd-escape -u "$instance"); fi
  sh -c "${script//\$\$/\$}" echo "$instance" "$@"
}
[ "$(device_of ttyUSB0)" = /dev/ttyUSB0 ] || fail "instance ttyUSB0 runs '$(device_of ttyUSB0)'"
if command -v systemd-escape >/dev/null; then
  by_id=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A601-if00-port0
  instance=$(systemd-escape --path "$by_id")
  [ "$(device_of "$instance")" = "$by_id" ] || fail "instance $instance runs '$(device_of "$instance")'"
  instance=$(systemd-escape --path /dev/ttyS0)
  [ "$(device_of "$instance")" = /dev/ttyS0 ] || fail "instance $instance runs '$(device_of "$instance")'"
fi
[ "$(device_of ttyACM0 --config /etc/kestrel32/a.ini)" = "/dev/ttyACM0 --config /etc/kestrel32/a.ini" ] ||
  fail "the instance's options are not passed on: '$(device_of ttyACM0 --config /etc/kestrel32/a.ini)'"
# Each instance's own configuration file, when there is one and the options name none.
mkdir -p "$work/etc"
touch "$work/etc/ttyUSB1.ini" "$work/etc/usb-FTDI_A601-if00-port0.ini"
for row in "ttyUSB0|/dev/ttyUSB0" \
  "ttyUSB1|/dev/ttyUSB1 --config $work/etc/ttyUSB1.ini" \
  "ttyUSB1 --baud 9600|/dev/ttyUSB1 --config $work/etc/ttyUSB1.ini --baud 9600" \
  "ttyUSB1 --config /x.ini|/dev/ttyUSB1 --config /x.ini" \
  "dev/serial/by-id/usb-FTDI_A601-if00-port0|/dev/serial/by-id/usb-FTDI_A601-if00-port0 --config $work/etc/usb-FTDI_A601-if00-port0.ini"; do
  read -ra given <<<"${row%%|*}"
  got=$(CONFIGURATION_DIRECTORY=$work/etc sh -c "${script//\$\$/\$}" echo "${given[@]}")
  [ "$got" = "${row#*|}" ] || fail "instance ${row%%|*} runs '$got', not '${row#*|}'"
done
for setting in User=kestrel32 SupplementaryGroups=dialout StateDirectory=kestrel32 \
  ConfigurationDirectory=kestrel32 RuntimeDirectory=kestrel32 RuntimeDirectoryPreserve=yes ProtectSystem=strict \
  ReadWritePaths=/var/lib/kestrel32 Restart=on-failure; do
  grep -qx "$setting" "$unit_file" || fail "the unit has no $setting"
done
grep -Eq '^(PrivateDevices=yes|DevicePolicy=(closed|strict)|ProtectClock=yes)' "$unit_file" &&
  fail "the unit keeps the service from the serial devices"
grep -Eq '^(BindsTo|Requires|After)=.*\.device' "$unit_file" && fail "the unit is bound to its device"
if command -v systemd-analyze >/dev/null; then
  # systemd-analyze prints its findings and exits with 0 for most of them: any line about
  # the unit fails. The manual page it names is looked for among the installed ones.
  mkdir -p "$work/units"
  cp "$unit_file" "$work/units/"
  ln -s digitizer-station@.service "$work/units/digitizer-station@ttyUSB0.service"
  findings=$(MANPATH=$usr/share/man systemd-analyze verify \
    "$work/units/digitizer-station@ttyUSB0.service" 2>&1 | grep digitizer-station || true)
  [ -z "$findings" ] || fail "systemd-analyze verify: $findings"
else
  echo "install_test: systemd-analyze is not installed: the unit is not verified by systemd"
fi

# The example configuration: every key --print-config prints, commented out with its default
# value and nothing else, so that the file as installed changes nothing; with the ';' taken
# away it is a configuration the program takes, the same.
station=$usr/bin/digitizer-station
: >"$work/empty.ini"
defaults=$("$station" --config "$work/empty.ini" --print-config) || fail "--print-config failed"
example_keys=$(sed -n 's/^;\([A-Za-z][A-Za-z]*=\)/\1/p' "$config" | sort)
default_keys=$(grep -E '^[A-Za-z]+=' <<<"$defaults" | sort)
[ "$example_keys" = "$default_keys" ] ||
  fail "station.ini differs from --print-config's defaults: $(diff <(echo "$default_keys") <(echo "$example_keys"))"
as_installed=$("$station" --config "$config" --print-config 2>&1) ||
  fail "station.ini as installed is refused: $as_installed"
[ "$as_installed" = "$defaults" ] || fail "station.ini as installed changes the configuration"
sed 's/^;\([A-Za-z][A-Za-z]*=\)/\1/' "$config" >"$work/uncommented.ini"
uncommented=$("$station" --config "$work/uncommented.ini" --print-config 2>&1) ||
  fail "station.ini with its keys in force is refused: $uncommented"
[ "$uncommented" = "$defaults" ] || fail "station.ini with its keys in force is not the defaults"

if [ "$gui" = 1 ]; then
  version=$(QT_QPA_PLATFORM=offscreen "$usr/bin/kestrel32" --version) || fail "kestrel32 --version failed"
  [[ "$version" =~ ^kestrel32\ [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "kestrel32 --version said '$version'"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$usr/share/applications/kestrel32.desktop" ||
      fail "the desktop entry does not validate"
  fi
fi

[ "$failures" -eq 0 ] || { echo "install_test: $failures failures" >&2; exit 1; }
echo "install_test: $((${#expected[@]} + 1)) files in place, ${#programs[@]} manual pages checked"
