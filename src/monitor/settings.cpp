#include "monitor/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// The [Files] keys, read and written only with the files feature.
void LoadFileSettings(TSettings& s, const TIniFile& ini) {
    s.Enable = ReadSettingsInteger(ini, "Files", "Enable", 0);
    s.Location = ini.Get("Files", "Location").value_or(s.Location);
    s.Network = ini.Get("Files", "Network").value_or(s.Network);
    s.UseSerialNumber = ReadSettingsInteger(ini, "Files", "UseSerialNumber", 0);
    s.Station = ini.Get("Files", "Station").value_or(s.Station);
    s.BaseDir = ini.Get("Files", "BaseDir").value_or(s.BaseDir);
    if (!s.BaseDir.empty() && s.BaseDir.back() == '/') {
        s.BaseDir.pop_back();
    }
    const int32_t minutes = ReadSettingsInteger(ini, "Files", "DurationMinutes", s.DurationMinutes);
    TakeIfAccepted(s.DurationMinutes, minutes, minutes >= 1 && minutes <= 60);
}

void SaveFileSettings(const TSettings& s, TIniFile& ini) {
    WriteSettingsInteger(ini, "Files", "Enable", s.Enable);
    ini.Set("Files", "Location", s.Location);
    ini.Set("Files", "Network", s.Network);
    WriteSettingsInteger(ini, "Files", "UseSerialNumber", s.UseSerialNumber);
    ini.Set("Files", "Station", s.Station);
    const bool slash = !s.BaseDir.empty() && s.BaseDir.back() == '/';
    ini.Set("Files", "BaseDir", slash ? s.BaseDir + "/" : s.BaseDir);
    WriteSettingsInteger(ini, "Files", "DurationMinutes", s.DurationMinutes);
}

// The [Events] keys: taken as a whole, when the detector accepts them together.
void LoadEventSettings(TSettings& s, const TIniFile& ini, const TSettingsContext& context) {
    TEventSettings e = s;
    const auto number = [&](const char* key, double& value) {
        if (const std::optional<std::string> text = ini.Get("Events", key)) {
            if (const std::optional<double> read =
                    ParseSettingsDouble(*text, context.DecimalSeparator)) {
                value = *read;
            }
        }
    };
    e.EventBandpass = ReadSettingsInteger(ini, "Events", "Bandpass", e.EventBandpass);
    number("LowHz", e.EventLowHz);
    number("HighHz", e.EventHighHz);
    e.EventPoles = ReadSettingsInteger(ini, "Events", "Poles", e.EventPoles);
    number("StaSeconds", e.EventStaSeconds);
    number("LtaSeconds", e.EventLtaSeconds);
    number("TriggerOn", e.EventTriggerOn);
    number("TriggerOff", e.EventTriggerOff);
    // Channels as the station's configuration writes them: "1-3", "1,2,5".
    if (const std::optional<std::string> text = ini.Get("Events", "Channels")) {
        e.EventChannels = static_cast<int32_t>(ParseChannelList(*text).value_or(0));
    }
    e.EventCoincidence = ReadSettingsInteger(ini, "Events", "Coincidence", e.EventCoincidence);
    number("HoldSeconds", e.EventHoldSeconds);
    // The corners are checked even with the band-pass off, for when it is switched on.
    TDetectorSettings withBand = DetectorSettingsOf(e);
    withBand.BandpassOn = true;
    if ((e.EventBandpass == 0 || e.EventBandpass == 1) && e.EventChannels >= 1 &&
        e.EventChannels <= 0x3F && ValidateDetectorSettings(withBand).Ok()) {
        static_cast<TEventSettings&>(s) = e;
    }
}

void SaveEventSettings(const TSettings& s, TIniFile& ini, const TSettingsContext& context) {
    const auto number = [&](const char* key, double value) {
        ini.Set("Events", key, FormatSettingsDouble(value, context.DecimalSeparator));
    };
    WriteSettingsInteger(ini, "Events", "Bandpass", s.EventBandpass);
    number("LowHz", s.EventLowHz);
    number("HighHz", s.EventHighHz);
    WriteSettingsInteger(ini, "Events", "Poles", s.EventPoles);
    number("StaSeconds", s.EventStaSeconds);
    number("LtaSeconds", s.EventLtaSeconds);
    number("TriggerOn", s.EventTriggerOn);
    number("TriggerOff", s.EventTriggerOff);
    ini.Set("Events", "Channels", ChannelListText(static_cast<uint32_t>(s.EventChannels)));
    WriteSettingsInteger(ini, "Events", "Coincidence", s.EventCoincidence);
    number("HoldSeconds", s.EventHoldSeconds);
}

void LoadHelicorderSettings(TSettings& s, const TIniFile& ini) {
    const int32_t channel = ReadSettingsInteger(ini, "Helicorder", "Channel", s.HelicorderChannel);
    TakeIfAccepted(s.HelicorderChannel, channel, channel >= 1 && channel <= 6);
    const int32_t hours = ReadSettingsInteger(ini, "Helicorder", "Hours", s.HelicorderHours);
    TakeIfAccepted(s.HelicorderHours, hours, OneOf(hours, {1, 6, 12, 24}));
    const int32_t minutes =
        ReadSettingsInteger(ini, "Helicorder", "RowMinutes", s.HelicorderRowMinutes);
    TakeIfAccepted(s.HelicorderRowMinutes, minutes, OneOf(minutes, {15, 30, 60}));
    const int32_t gain = ReadSettingsInteger(ini, "Helicorder", "Gain", s.HelicorderGain);
    TakeIfAccepted(s.HelicorderGain, gain, gain >= 0 && gain <= 23);
    const int32_t bandpass =
        ReadSettingsInteger(ini, "Helicorder", "Bandpass", s.HelicorderBandpass);
    TakeIfAccepted(s.HelicorderBandpass, bandpass, bandpass == 0 || bandpass == 1);
}

void SaveHelicorderSettings(const TSettings& s, TIniFile& ini) {
    WriteSettingsInteger(ini, "Helicorder", "Channel", s.HelicorderChannel);
    WriteSettingsInteger(ini, "Helicorder", "Hours", s.HelicorderHours);
    WriteSettingsInteger(ini, "Helicorder", "RowMinutes", s.HelicorderRowMinutes);
    WriteSettingsInteger(ini, "Helicorder", "Gain", s.HelicorderGain);
    WriteSettingsInteger(ini, "Helicorder", "Bandpass", s.HelicorderBandpass);
}

}  // namespace

TSettings DefaultSettings(const std::string& homeDir) {
    TSettings settings;
    settings.BaseDir = JoinPath(homeDir, "recorderfiles");
    return settings;
}

void LoadSettings(TSettings& s, const TIniFile& ini, const TSettingsContext& context) {
    const uint8_t port = uint8_t(ReadSettingsInteger(ini, "Comms", "Port", s.Port) & 0xFF);
    TakeIfAccepted(s.Port, port, port != 0);
    const int32_t baud = ReadSettingsInteger(ini, "Comms", "Baud", s.Baud);
    TakeIfAccepted(s.Baud, baud, BaudRateIndex(baud) >= 0);
    s.Device = ini.Get("Comms", "Device").value_or(s.Device);

    const int32_t seconds = ReadSettingsInteger(ini, "Data", "StoredSeconds", s.StoredSeconds);
    TakeIfAccepted(s.StoredSeconds, seconds, seconds >= 1 && seconds <= 86400);
    const std::optional<std::string> dcText = ini.Get("Data", "DCTimeConst");
    const std::optional<double> dc =
        dcText ? ParseSettingsDouble(*dcText, context.DecimalSeparator) : std::nullopt;
    TakeIfAccepted(s.DCTimeConst, dc.value_or(s.DCTimeConst), dc && *dc >= 0 && *dc <= 1);
    s.DataFgdCol = ReadSettingsInteger(ini, "Data", "FgdCol", s.DataFgdCol);
    s.DataFirstSampleCol = ReadSettingsInteger(ini, "Data", "FirstSampleCol", s.DataFirstSampleCol);
    s.DataBgdCol = ReadSettingsInteger(ini, "Data", "BgdCol", s.DataBgdCol);

    const int32_t hours = ReadSettingsInteger(ini, "Temperatures", "StoredHours", s.StoredHours);
    TakeIfAccepted(s.StoredHours, hours, hours >= 1 && hours <= 100);
    s.TemperaturesFgdCol = ReadSettingsInteger(ini, "Temperatures", "FgdCol", s.TemperaturesFgdCol);
    s.TemperaturesBgdCol = ReadSettingsInteger(ini, "Temperatures", "BgdCol", s.TemperaturesBgdCol);

    const int32_t autoCalc = ReadSettingsInteger(ini, "FFT", "AutoCalc", s.AutoCalc);
    TakeIfAccepted(s.AutoCalc, autoCalc, autoCalc == 0 || autoCalc == 1);
    const int32_t points = ReadSettingsInteger(ini, "FFT", "Points", s.Points);
    TakeIfAccepted(s.Points, points, OneOf(points, {1024, 2048, 4096, 8192}));
    s.Window = ini.Get("FFT", "Window").value_or(s.Window);
    if (!OneOf<std::string>(s.Window, {"Blackman Harris", "Hanning", "None"})) {
        s.Window = "Blackman Harris";
    }
    s.FftFgdCol = ReadSettingsInteger(ini, "FFT", "FgdCol", s.FftFgdCol);
    s.FftBgdCol = ReadSettingsInteger(ini, "FFT", "BgdCol", s.FftBgdCol);

    if (context.FilesFeature) {
        LoadFileSettings(s, ini);
    } else {
        s.Enable = 0;
    }

    const int32_t spectrogramPoints =
        ReadSettingsInteger(ini, "Spectrogram", "Points", s.SpectrogramPoints);
    TakeIfAccepted(s.SpectrogramPoints, spectrogramPoints,
                   OneOf(spectrogramPoints, {256, 512, 1024, 2048, 4096}));
    const int32_t autoRange =
        ReadSettingsInteger(ini, "Spectrogram", "AutoRange", s.SpectrogramAutoRange);
    TakeIfAccepted(s.SpectrogramAutoRange, autoRange, autoRange == 0 || autoRange == 1);
    const int32_t minDb = ReadSettingsInteger(ini, "Spectrogram", "MinDb", s.SpectrogramMinDb);
    const int32_t maxDb = ReadSettingsInteger(ini, "Spectrogram", "MaxDb", s.SpectrogramMaxDb);
    if (minDb >= -250 && maxDb <= 50 && minDb < maxDb) {
        s.SpectrogramMinDb = minDb;
        s.SpectrogramMaxDb = maxDb;
    }
    const int32_t logFrequency =
        ReadSettingsInteger(ini, "Spectrogram", "LogFrequency", s.SpectrogramLogFrequency);
    TakeIfAccepted(s.SpectrogramLogFrequency, logFrequency, logFrequency == 0 || logFrequency == 1);
    const int32_t spanMinutes =
        ReadSettingsInteger(ini, "Spectrogram", "Minutes", s.SpectrogramMinutes);
    TakeIfAccepted(s.SpectrogramMinutes, spanMinutes, spanMinutes >= 1 && spanMinutes <= 60);
    const int32_t maxHz = ReadSettingsInteger(ini, "Spectrogram", "MaxHz", s.SpectrogramMaxHz);
    TakeIfAccepted(s.SpectrogramMaxHz, maxHz, maxHz >= 0 && maxHz <= 1500);

    LoadEventSettings(s, ini, context);
    LoadHelicorderSettings(s, ini);
}

void SaveSettings(const TSettings& s, TIniFile& ini, const TSettingsContext& context) {
    WriteSettingsInteger(ini, "Comms", "Port", s.Port);
    WriteSettingsInteger(ini, "Comms", "Baud", s.Baud);
    ini.Set("Comms", "Device", s.Device);
    WriteSettingsInteger(ini, "Data", "StoredSeconds", s.StoredSeconds);
    ini.Set("Data", "DCTimeConst", FormatSettingsDouble(s.DCTimeConst, context.DecimalSeparator));
    WriteSettingsInteger(ini, "Data", "FgdCol", s.DataFgdCol);
    WriteSettingsInteger(ini, "Data", "FirstSampleCol", s.DataFirstSampleCol);
    WriteSettingsInteger(ini, "Data", "BgdCol", s.DataBgdCol);
    WriteSettingsInteger(ini, "Temperatures", "StoredHours", s.StoredHours);
    WriteSettingsInteger(ini, "Temperatures", "FgdCol", s.TemperaturesFgdCol);
    WriteSettingsInteger(ini, "Temperatures", "BgdCol", s.TemperaturesBgdCol);
    WriteSettingsInteger(ini, "FFT", "AutoCalc", s.AutoCalc);
    WriteSettingsInteger(ini, "FFT", "Points", s.Points);
    ini.Set("FFT", "Window", s.Window);
    WriteSettingsInteger(ini, "FFT", "FgdCol", s.FftFgdCol);
    WriteSettingsInteger(ini, "FFT", "BgdCol", s.FftBgdCol);
    if (context.FilesFeature) {
        SaveFileSettings(s, ini);
    }
    WriteSettingsInteger(ini, "Spectrogram", "Points", s.SpectrogramPoints);
    WriteSettingsInteger(ini, "Spectrogram", "AutoRange", s.SpectrogramAutoRange);
    WriteSettingsInteger(ini, "Spectrogram", "MinDb", s.SpectrogramMinDb);
    WriteSettingsInteger(ini, "Spectrogram", "MaxDb", s.SpectrogramMaxDb);
    WriteSettingsInteger(ini, "Spectrogram", "LogFrequency", s.SpectrogramLogFrequency);
    WriteSettingsInteger(ini, "Spectrogram", "Minutes", s.SpectrogramMinutes);
    WriteSettingsInteger(ini, "Spectrogram", "MaxHz", s.SpectrogramMaxHz);
    SaveEventSettings(s, ini, context);
    SaveHelicorderSettings(s, ini);
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

void ApplyCommandLine(TSettings& settings, std::optional<uint8_t> port, const std::string& device) {
    if (port) {
        settings.Port = *port;
        settings.Device.clear();
    }
    if (!device.empty()) {
        settings.Device = device;
    }
}
