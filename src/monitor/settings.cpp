#include "monitor/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <vector>

#include "digitizer/protocol.h"

namespace {

#ifdef KESTREL_INSTALL_BINDIR
constexpr const char* InstallBinDir = KESTREL_INSTALL_BINDIR;
#else
constexpr const char* InstallBinDir = "";
#endif

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal integer with an optional sign, blanks around allowed, within 32 bits.
std::optional<int32_t> ParseInteger(const std::string& text) {
    const std::string t = TrimBlanks(text);
    size_t i = 0;
    const bool negative = i < t.size() && t[i] == '-';
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
        ++i;
    }
    if (i == t.size()) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (; i < t.size(); ++i) {
        if (!IsDigit(t[i])) {
            return std::nullopt;
        }
        value = value * 10 + (t[i] - '0');
        if (value > int64_t(INT32_MAX) + 1) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > INT32_MAX) {
        return std::nullopt;
    }
    return int32_t(value);
}

// A decimal number with `separator` as its decimal point and an optional exponent.
std::optional<double> ParseDouble(const std::string& text, const std::string& separator) {
    const std::string t = TrimBlanks(text);
    size_t i = 0;
    std::string plain;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
        if (t[i] == '-') {
            plain += '-';
        }
        ++i;
    }
    bool digits = false;
    bool point = false;
    while (i < t.size()) {
        if (IsDigit(t[i])) {
            plain += t[i++];
            digits = true;
        } else if (!point && !separator.empty() && t.compare(i, separator.size(), separator) == 0) {
            plain += '.';
            i += separator.size();
            point = true;
        } else {
            break;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
            plain += t[i++];
        }
        if (i == t.size() || !IsDigit(t[i])) {
            return std::nullopt;
        }
        while (i < t.size() && IsDigit(t[i])) {
            plain += t[i++];
        }
    }
    if (i != t.size()) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size()) {
        return std::nullopt;
    }
    return value;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return name;
    }
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

template <typename T>
bool OneOf(const T& value, std::initializer_list<T> accepted) {
    return std::find(accepted.begin(), accepted.end(), value) != accepted.end();
}

}  // namespace

TSettings DefaultSettings(const std::string& homeDir) {
    TSettings settings;
    settings.BaseDir = JoinPath(homeDir, "recorderfiles");
    return settings;
}

void LoadSettings(TSettings& s, const TIniFile& ini, const TSettingsContext& context) {
    const auto readInt = [&ini](const char* section, const char* key, int32_t current) {
        const std::optional<std::string> text = ini.Get(section, key);
        const std::optional<int32_t> value = text ? ParseInteger(*text) : std::nullopt;
        return value.value_or(current);
    };
    const auto readText = [&ini](const char* section, const char* key, const std::string& current) {
        return ini.Get(section, key).value_or(current);
    };
    // Assigns `value` when `accepted`; otherwise the field keeps its previous value.
    const auto keepIfRejected = [](auto& field, auto value, bool accepted) {
        if (accepted) {
            field = value;
        }
    };

    const uint8_t port = uint8_t(readInt("Comms", "Port", s.Port) & 0xFF);
    keepIfRejected(s.Port, port, port != 0);
    const int32_t baud = readInt("Comms", "Baud", s.Baud);
    keepIfRejected(s.Baud, baud, BaudRateIndex(baud) >= 0);
    s.Device = readText("Comms", "Device", s.Device);

    const int32_t seconds = readInt("Data", "StoredSeconds", s.StoredSeconds);
    keepIfRejected(s.StoredSeconds, seconds, seconds >= 1 && seconds <= 86400);
    const std::optional<std::string> dcText = ini.Get("Data", "DCTimeConst");
    const std::optional<double> dc =
        dcText ? ParseDouble(*dcText, context.DecimalSeparator) : std::nullopt;
    keepIfRejected(s.DCTimeConst, dc.value_or(s.DCTimeConst), dc && *dc >= 0 && *dc <= 1);
    s.DataFgdCol = readInt("Data", "FgdCol", s.DataFgdCol);
    s.DataFirstSampleCol = readInt("Data", "FirstSampleCol", s.DataFirstSampleCol);
    s.DataBgdCol = readInt("Data", "BgdCol", s.DataBgdCol);

    const int32_t hours = readInt("Temperatures", "StoredHours", s.StoredHours);
    keepIfRejected(s.StoredHours, hours, hours >= 1 && hours <= 100);
    s.TemperaturesFgdCol = readInt("Temperatures", "FgdCol", s.TemperaturesFgdCol);
    s.TemperaturesBgdCol = readInt("Temperatures", "BgdCol", s.TemperaturesBgdCol);

    const int32_t autoCalc = readInt("FFT", "AutoCalc", s.AutoCalc);
    keepIfRejected(s.AutoCalc, autoCalc, autoCalc == 0 || autoCalc == 1);
    const int32_t points = readInt("FFT", "Points", s.Points);
    keepIfRejected(s.Points, points, OneOf(points, {1024, 2048, 4096, 8192}));
    s.Window = readText("FFT", "Window", s.Window);
    if (!OneOf<std::string>(s.Window, {"Blackman Harris", "Hanning", "None"})) {
        s.Window = "Blackman Harris";
    }
    s.FftFgdCol = readInt("FFT", "FgdCol", s.FftFgdCol);
    s.FftBgdCol = readInt("FFT", "BgdCol", s.FftBgdCol);

    if (!context.FilesFeature) {
        s.Enable = 0;
        return;
    }
    s.Enable = readInt("Files", "Enable", 0);
    s.Location = readText("Files", "Location", s.Location);
    s.Network = readText("Files", "Network", s.Network);
    s.UseSerialNumber = readInt("Files", "UseSerialNumber", 0);
    s.Station = readText("Files", "Station", s.Station);
    s.BaseDir = readText("Files", "BaseDir", s.BaseDir);
    if (!s.BaseDir.empty() && s.BaseDir.back() == '/') {
        s.BaseDir.pop_back();
    }
    const int32_t minutes = readInt("Files", "DurationMinutes", s.DurationMinutes);
    keepIfRejected(s.DurationMinutes, minutes, minutes >= 1 && minutes <= 60);
}

std::string FormatSettingsDouble(double value, const std::string& decimalSeparator) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    const size_t point = text.find('.');
    if (point != std::string::npos) {
        text.replace(point, 1, decimalSeparator);
    }
    return text;
}

std::optional<double> ParseSettingsDouble(const std::string& text,
                                          const std::string& decimalSeparator) {
    return ParseDouble(text, decimalSeparator);
}

void SaveSettings(const TSettings& s, TIniFile& ini, const TSettingsContext& context) {
    const auto setInt = [&ini](const char* section, const char* key, int32_t value) {
        ini.Set(section, key, std::to_string(value));
    };
    setInt("Comms", "Port", s.Port);
    setInt("Comms", "Baud", s.Baud);
    ini.Set("Comms", "Device", s.Device);
    setInt("Data", "StoredSeconds", s.StoredSeconds);
    ini.Set("Data", "DCTimeConst", FormatSettingsDouble(s.DCTimeConst, context.DecimalSeparator));
    setInt("Data", "FgdCol", s.DataFgdCol);
    setInt("Data", "FirstSampleCol", s.DataFirstSampleCol);
    setInt("Data", "BgdCol", s.DataBgdCol);
    setInt("Temperatures", "StoredHours", s.StoredHours);
    setInt("Temperatures", "FgdCol", s.TemperaturesFgdCol);
    setInt("Temperatures", "BgdCol", s.TemperaturesBgdCol);
    setInt("FFT", "AutoCalc", s.AutoCalc);
    setInt("FFT", "Points", s.Points);
    ini.Set("FFT", "Window", s.Window);
    setInt("FFT", "FgdCol", s.FftFgdCol);
    setInt("FFT", "BgdCol", s.FftBgdCol);
    if (!context.FilesFeature) {
        return;
    }
    setInt("Files", "Enable", s.Enable);
    ini.Set("Files", "Location", s.Location);
    ini.Set("Files", "Network", s.Network);
    setInt("Files", "UseSerialNumber", s.UseSerialNumber);
    ini.Set("Files", "Station", s.Station);
    const bool slash = !s.BaseDir.empty() && s.BaseDir.back() == '/';
    ini.Set("Files", "BaseDir", slash ? s.BaseDir + "/" : s.BaseDir);
    setInt("Files", "DurationMinutes", s.DurationMinutes);
}

std::string SettingsFilePath(const TSettingsPathFacts& facts) {
    if (!facts.CommandLineSettings.empty()) {
        return facts.CommandLineSettings;
    }
    if (!facts.ExecutableDir.empty() && !facts.ExecutableDirInstalled &&
        (facts.FileInExecutableDir || facts.ExecutableDirWritable)) {
        return JoinPath(facts.ExecutableDir, SettingsFileName);
    }
    std::string config;
    if (!facts.XdgConfigHome.empty() && facts.XdgConfigHome.front() == '/') {
        config = facts.XdgConfigHome;
    } else if (!facts.HomeDir.empty()) {
        config = JoinPath(facts.HomeDir, ".config");
    } else {
        return JoinPath(facts.ExecutableDir, SettingsFileName);
    }
    return JoinPath(JoinPath(config, "kestrel32"), SettingsFileName);
}

bool IsInstalledProgramDir(const std::string& dir, const std::string& installBinDir) {
    const auto withoutSlash = [](std::string path) {
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        return path;
    };
    const std::string d = withoutSlash(dir);
    if (d.empty()) {
        return false;
    }
    if (!installBinDir.empty() && d == withoutSlash(installBinDir)) {
        return true;
    }
    static constexpr const char* SystemDirs[] = {"/usr/bin",   "/usr/local/bin",  "/bin",
                                                 "/usr/sbin",  "/usr/local/sbin", "/sbin",
                                                 "/usr/games", "/usr/local/games"};
    return std::any_of(std::begin(SystemDirs), std::end(SystemDirs),
                       [&d](const char* system) { return d == system; });
}

TSettingsPathFacts GatherSettingsPathFacts(const std::string& commandLineSettings) {
    TSettingsPathFacts facts;
    facts.CommandLineSettings = commandLineSettings;
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n > 0 && size_t(n) < buffer.size()) {
        const std::string exe(buffer.data(), size_t(n));
        const size_t slash = exe.rfind('/');
        if (slash != std::string::npos) {
            facts.ExecutableDir = exe.substr(0, slash + 1);
        }
    }
    if (!facts.ExecutableDir.empty()) {
        const std::string file = JoinPath(facts.ExecutableDir, SettingsFileName);
        facts.FileInExecutableDir = access(file.c_str(), F_OK) == 0;
        facts.ExecutableDirWritable = access(facts.ExecutableDir.c_str(), W_OK) == 0;
        facts.ExecutableDirInstalled = IsInstalledProgramDir(facts.ExecutableDir, InstallBinDir);
    }
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) {
        facts.XdgConfigHome = xdg;
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        facts.HomeDir = home;
    } else {
        std::vector<char> pwBuffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, pwBuffer.data(), pwBuffer.size(), &found) == 0 && found &&
            found->pw_dir) {
            facts.HomeDir = found->pw_dir;
        }
    }
    return facts;
}

bool CreateParentDirectories(const std::string& filePath) {
    const size_t last = filePath.rfind('/');
    if (last == std::string::npos || last == 0) {
        return true;  // the working directory or the root
    }
    const std::string parent = filePath.substr(0, last);
    for (size_t slash = parent.find('/', 1);; slash = parent.find('/', slash + 1)) {
        const std::string dir = parent.substr(0, slash);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    return stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

uint8_t PortFromArgument(const std::string& argument) {
    return uint8_t(ParseInteger(argument).value_or(1) & 0xFF);
}

bool IsDeviceArgument(const std::string& argument) {
    return !argument.empty() && argument.front() == '/';
}

void ApplyCommandLine(TSettings& settings, std::optional<uint8_t> port, const std::string& device) {
    if (port) {
        settings.Port = *port;
        settings.Device.clear();
    }
    if (!device.empty()) {
        settings.Device = device;
    }
}
