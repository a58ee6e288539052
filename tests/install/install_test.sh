#!/usr/bin/env bash
# What `cmake --install` puts in place, installed under a temporary DESTDIR with the prefix
# /usr as the package has it: every program, each with its manual page documenting every
# option its --help names, and with the window the desktop entry and the icons. The
# installed programs run from there.
#
#   install_test.sh BUILD_DIR WITH_GUI(0|1)
set -euo pipefail
build=$1
gui=$2
root=$(mktemp -d "${TMPDIR:-/tmp}/install_test.XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "install_test: $*" >&2; failures=$((failures + 1)); }

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr

programs=(digitizer-sim digitizer-dump digitizer-upload)
[ "$gui" = 1 ] && programs=(kestrel32 "${programs[@]}")

expected=()
for p in "${programs[@]}"; do
  expected+=("bin/$p" "share/man/man1/$p.1.gz")
done
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
[ -z "$(ls -A "$root" | grep -vx usr)" ] || fail "files installed outside /usr: $(ls -A "$root")"

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

if [ "$gui" = 1 ]; then
  version=$(QT_QPA_PLATFORM=offscreen "$usr/bin/kestrel32" --version) || fail "kestrel32 --version failed"
  [[ "$version" =~ ^kestrel32\ [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "kestrel32 --version said '$version'"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$usr/share/applications/kestrel32.desktop" ||
      fail "the desktop entry does not validate"
  fi
fi

[ "$failures" -eq 0 ] || { echo "install_test: $failures failures" >&2; exit 1; }
echo "install_test: ${#expected[@]} files in place, ${#programs[@]} manual pages checked"
