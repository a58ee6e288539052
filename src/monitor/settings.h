// The program's settings: one field per key of the settings file "kestrel32.ini", where that
// file lives, the port given on the command line and the baud rate search cycle.
//
// Use at start-up:
//     TSettings settings = DefaultSettings(facts.HomeDir);
//     TIniFile ini;
//     ini.Load(path);                        // a missing file gives the defaults
//     LoadSettings(settings, ini, context);
// and at exit (or when the data file dialog closes with OK): load the file again (so keys
// another program changed meanwhile survive), SaveSettings(settings, ini, context), then
// CreateParentDirectories(path) and ini.Save(path).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "monitor/colour_settings.h"
#include "monitor/event_settings.h"
#include "monitor/time_frequency_settings.h"
#include "recording/file_settings.h"
#include "settings/ini_file.h"

// The window's own sections.
struct TCommsSettings {
    uint8_t Port = 1;      // 1..255; port N is /dev/ttyS<N-1> unless Device is set
    int32_t Baud = 19200;  // one of BaudRates (digitizer/protocol.h)
    std::string Device;    // a device path such as /dev/ttyUSB0; empty: use Port

    bool operator==(const TCommsSettings&) const = default;
};
struct TDataSettings {
    int32_t StoredSeconds = 30;  // 1..86400
    double DCTimeConst = 0.003;  // 0..1

    bool operator==(const TDataSettings&) const = default;
};
struct TTemperatureSettings {
    int32_t StoredHours = 1;  // 1..100

    bool operator==(const TTemperatureSettings&) const = default;
};
struct TFftSettings {
    int32_t AutoCalc = 1;                    // 0 or 1
    int32_t Points = 1024;                   // 1024, 2048, 4096 or 8192
    std::string Window = "Blackman Harris";  // "Blackman Harris", "Hanning" or "None"

    bool operator==(const TFftSettings&) const = default;
};

// Every section, each struct owned by the feature that uses it: [Comms], [Data],
// [Temperatures] and [FFT] by the window, their colours by the colour dialog, [Files] by
// recording, [Spectrogram] by the Spectrogram page, [Events] by the event detection and
// [Helicorder] by the Helicorder page. A dialog takes only the struct it edits.
struct TSettings : TCommsSettings,
                   TDataSettings,
                   TTemperatureSettings,
                   TFftSettings,
                   TColourSettings,
                   TFileSettings,
                   TSpectrogramSettings,
                   TEventSettings,
                   THelicorderSettings {
    bool operator==(const TSettings&) const = default;
};

// What LoadSettings and SaveSettings need to know beyond the file.
struct TSettingsContext {
    bool FilesFeature = false;           // the [Files] section is read and written only when true
    std::string DecimalSeparator = ".";  // the user's decimal separator, for DCTimeConst
};

// Every setting at its default; BaseDir is "recorderfiles" in `homeDir` (relative to the
// working directory when `homeDir` is empty).
TSettings DefaultSettings(const std::string& homeDir);

// Reads every key in the order of the file's table, each with the field's current value as
// the default: a missing key, a value that is not a number where one is expected, or a value
// out of its range leaves the field as it was. Rules beyond the plain ranges:
// - Port keeps the low 8 bits of the number, then rejects 0.
// - Window: any text but the three names (case-sensitive) becomes "Blackman Harris".
// - Enable and UseSerialNumber default to 0 whatever they held before.
// - BaseDir loses one trailing "/".
// - Without the files feature [Files] is not read and Enable is set to 0.
// - [Spectrogram]: Points a power of two from 256 to 4096; MinDb and MaxDb in -250..50 and
//   taken only as a pair with MinDb below MaxDb; AutoRange and LogFrequency 0 or 1; Minutes
//   1..60.
// - [Events] (after [Spectrogram]): Bandpass 0 or 1, LowHz, HighHz, StaSeconds, LtaSeconds,
//   TriggerOn and TriggerOff numbers with the context's decimal separator, Poles, Channels
//   (1..63, bit n channel n + 1) and Coincidence; the section is taken only as a whole, when
//   the detector accepts it (ValidateDetectorSettings), else it stays as it was.
// - [Helicorder] (last): Channel 1..6, Hours 1, 6, 12 or 24, RowMinutes 15, 30 or 60, Gain
//   0..23, Bandpass 0 or 1.
// Integers are decimal with an optional sign, blanks around allowed, within 32 bits.
// DCTimeConst uses the context's decimal separator (an exponent is accepted).
void LoadSettings(TSettings& settings, const TIniFile& ini, const TSettingsContext& context);

// Sets every key in `ini` in table order (new keys and sections are appended in that order):
// integers in decimal, DCTimeConst as the shortest decimal text that reads back as the same
// number, with the context's decimal separator; [Files] only with the files feature;
// [Spectrogram], [Events] and [Helicorder] last. A BaseDir
// that ends in "/" is written with one more "/" so that LoadSettings gives it back unchanged.
void SaveSettings(const TSettings& settings, TIniFile& ini, const TSettingsContext& context);

// --- Where the settings file lives ---

inline constexpr const char* SettingsFileName = "kestrel32.ini";

// The facts the place of the settings file depends on.
struct TSettingsPathFacts {
    std::string CommandLineSettings;   // the FILE of "--settings FILE", empty when not given
    std::string ExecutableDir;         // the running program's directory
    bool FileInExecutableDir = false;  // ExecutableDir holds "kestrel32.ini"
    bool ExecutableDirWritable = false;
    bool ExecutableDirInstalled = false;  // ExecutableDir is a directory of installed programs
    std::string XdgConfigHome;            // $XDG_CONFIG_HOME, empty when unset
    std::string HomeDir;
};

// --settings FILE when given; else ExecutableDir/kestrel32.ini when that file exists or the
// directory is writable, unless the program is installed (ExecutableDirInstalled: it must
// not write among the system's programs, not even as root); else
// $XDG_CONFIG_HOME/kestrel32/kestrel32.ini, where an unset or relative XDG_CONFIG_HOME means
// HomeDir/.config.
std::string SettingsFilePath(const TSettingsPathFacts& facts);

// True when `dir` (with or without a trailing "/") is where installed programs live: the
// build's install directory for programs (`installBinDir`, CMAKE_INSTALL_FULL_BINDIR) or one
// of the system's, /usr/bin, /usr/local/bin, /bin, /usr/sbin, /usr/local/sbin, /sbin,
// /usr/games and /usr/local/games.
bool IsInstalledProgramDir(const std::string& dir, const std::string& installBinDir);

// Gathers the facts from the system: /proc/self/exe, access(), $XDG_CONFIG_HOME and $HOME
// (the password database when $HOME is unset); the executable's directory is checked
// against the install directory the program was built for (KESTREL_INSTALL_BINDIR).
TSettingsPathFacts GatherSettingsPathFacts(const std::string& commandLineSettings);

// Creates the directories above `filePath` that do not exist yet (mode 0700, as for a user's
// configuration directory). True when they all exist afterwards.
bool CreateParentDirectories(const std::string& filePath);

// --- Command line ---

// What the command line says over the settings file: a port number means that
// port, so a saved device path is forgotten; a device path is used (and so
// saved at exit).
void ApplyCommandLine(TSettings& settings, std::optional<uint8_t> port, const std::string& device);
