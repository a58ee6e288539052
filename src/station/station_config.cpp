#include "station/station_config.h"

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <set>

#include "datalink/datalink_client.h"
#include "digitizer/port_list.h"
#include "digitizer/protocol.h"
#include "seedlink/address.h"
#include "settings/command_line.h"
#include "settings/ini_file.h"

namespace {

constexpr char SectionName[] = "Station";
constexpr size_t MaxChannelCodes = 6;
// The sensors' sections, of channels 1-3 and 4-6.
constexpr const char* SensorSections[2] = {"Sensor 1-3", "Sensor 4-6"};

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), LowerAscii);
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = char(c - 'a' + 'A');
        }
    }
    return text;
}

bool IsCodeText(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

bool HasControl(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// A value from outside as it is shown in a message: control characters as '?', cut short.
std::string Shown(const std::string& text) {
    constexpr size_t MaxShown = 80;
    std::string shown = text.substr(0, MaxShown);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text.size() > MaxShown ? shown + "..." : shown;
}

// A whole decimal number from min to max, the text all digits.
bool ParseWhole(const std::string& text, long min, long max, long& value) {
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && text[0] != '-' && error == std::errc() && last == end && value >= min &&
           value <= max;
}

// --- The keys: each sets its field from a value and returns the reason for a refusal ---

using TSetter = std::function<std::string(TStationConfig&, const std::string&)>;

struct TKey {
    const char* IniName;
    const char* Option;
    TSetter Set;
    const char* Section = SectionName;
};

// The [Events] keys (station/event_config.h) and the [Alarms] keys (station/alarms.h) after
// the [Station] ones.
std::vector<TKey> WithSectionKeys(std::vector<TKey> keys) {
    for (const TEventKey& key : EventKeys()) {
        const auto set = key.Set;
        keys.push_back({key.IniName, key.Option,
                        [set](TStationConfig& c, const std::string& v) { return set(c.Events, v); },
                        EventSectionName});
    }
    for (const TAlarmKey& key : AlarmKeys()) {
        const auto set = key.Set;
        keys.push_back({key.IniName, key.Option,
                        [set](TStationConfig& c, const std::string& v) { return set(c.Alarms, v); },
                        AlarmSectionName});
    }
    return keys;
}

// --- The station's metadata ---

// A decimal number from min to max.
bool ParseDecimal(const std::string& text, double min, double max, double& value) {
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && last == end && value >= min && value <= max;
}

TSetter PlaceSetter(std::optional<double> TStationConfig::*field, double min, double max) {
    return [=](TStationConfig& config, const std::string& value) -> std::string {
        double number = 0;
        if (TrimBlanks(value).empty()) {
            (config.*field).reset();
        } else if (ParseDecimal(TrimBlanks(value), min, max, number)) {
            config.*field = number;
        } else {
            return "must be a number from " + ExactNumber(min) + " to " + ExactNumber(max) +
                   ", or empty for none";
        }
        return "";
    };
}

// A key of a sensor's section: sets the sensor of group `group`, made when its first key is
// read.
using TSensorSetter = std::function<std::string(TSensor&, const std::string&)>;

struct TSensorKey {
    const char* IniName;
    TSensorSetter Set;
    std::function<std::string(const TSensor&)> Get;
};

std::string SetPositive(double& field, const std::string& value) {
    double number = 0;
    if (!ParseDecimal(TrimBlanks(value), 1e-300, 1e300, number)) {
        return "must be a number above 0";
    }
    field = number;
    return "";
}

const std::vector<TSensorKey>& SensorKeys() {
    static const std::vector<TSensorKey> keys = {
        {"Description",
         [](TSensor& s, const std::string& v) -> std::string {
             if (HasControl(v)) {
                 return "must not contain control characters";
             }
             s.Description = v;
             return "";
         },
         [](const TSensor& s) { return s.Description; }},
        {"Units",
         [](TSensor& s, const std::string& v) -> std::string {
             const std::string units = Upper(TrimBlanks(v));
             if (!IsSensorUnit(units)) {
                 return "must be M/S, M/S**2, M or V";
             }
             s.InputUnits = units;
             return "";
         },
         [](const TSensor& s) { return s.InputUnits; }},
        {"Sensitivity",
         [](TSensor& s, const std::string& v) { return SetPositive(s.Sensitivity, v); },
         [](const TSensor& s) { return ExactNumber(s.Sensitivity); }},
        {"Frequency", [](TSensor& s, const std::string& v) { return SetPositive(s.Frequency, v); },
         [](const TSensor& s) { return ExactNumber(s.Frequency); }},
        {"Transfer",
         [](TSensor& s, const std::string& v) -> std::string {
             const std::string lower = Lower(TrimBlanks(v));
             if (lower == "rad") {
                 s.Transfer = TPzTransfer::RadiansPerSecond;
             } else if (lower == "hz") {
                 s.Transfer = TPzTransfer::Hertz;
             } else {
                 return "must be rad (poles and zeros in rad/s) or hz";
             }
             return "";
         },
         [](const TSensor& s) {
             return std::string(s.Transfer == TPzTransfer::Hertz ? "hz" : "rad");
         }},
        {"Poles",
         [](TSensor& s, const std::string& v) -> std::string {
             std::string error;
             auto roots = ParseRoots(v, error);
             if (roots) {
                 s.Poles = std::move(*roots);
             }
             return error;
         },
         [](const TSensor& s) { return FormatRoots(s.Poles); }},
        {"Zeros",
         [](TSensor& s, const std::string& v) -> std::string {
             std::string error;
             auto roots = ParseRoots(v, error);
             if (roots) {
                 s.Zeros = std::move(*roots);
             }
             return error;
         },
         [](const TSensor& s) { return FormatRoots(s.Zeros); }},
        {"Azimuths",
         [](TSensor& s, const std::string& v) -> std::string {
             std::string error;
             auto numbers = ParseNumberList(v, error);
             if (numbers) {
                 s.Azimuths = std::move(*numbers);
             }
             return error;
         },
         [](const TSensor& s) { return FormatNumberList(s.Azimuths); }},
        {"Dips",
         [](TSensor& s, const std::string& v) -> std::string {
             std::string error;
             auto numbers = ParseNumberList(v, error);
             if (numbers) {
                 s.Dips = std::move(*numbers);
             }
             return error;
         },
         [](const TSensor& s) { return FormatNumberList(s.Dips); }},
    };
    return keys;
}

// The sensors' keys after the others, one set per group.
std::vector<TKey> WithSensorKeys(std::vector<TKey> keys) {
    for (size_t group = 0; group < 2; ++group) {
        for (const TSensorKey& key : SensorKeys()) {
            const auto set = key.Set;
            keys.push_back({key.IniName, nullptr,
                            [set, group](TStationConfig& c, const std::string& v) {
                                std::optional<TSensor>& sensor = c.Sensors[group];
                                if (!sensor) {
                                    sensor.emplace();
                                }
                                return set(*sensor, v);
                            },
                            SensorSections[group]});
        }
    }
    return keys;
}

// What a configured sensor lacks or cannot have; empty when it is whole.
std::string CheckSensors(const TStationConfig& config) {
    for (size_t group = 0; group < 2; ++group) {
        const std::optional<TSensor>& sensor = config.Sensors[group];
        if (!sensor) {
            continue;
        }
        const std::string where = std::string("[") + SensorSections[group] + "] ";
        if (sensor->Sensitivity <= 0) {
            return where + "needs Sensitivity= (volts per input unit)";
        }
        if (NormalizationFactor(*sensor, sensor->Frequency) == 0) {
            return where + "Frequency=" + ExactNumber(sensor->Frequency) +
                   " falls on a pole or zero: the response cannot be normalised there";
        }
        if (sensor->Azimuths.size() != sensor->Dips.size()) {
            return where + "Azimuths= and Dips= must give as many numbers";
        }
    }
    if (config.Latitude.has_value() != config.Longitude.has_value()) {
        return "Latitude= and Longitude= go together";
    }
    if (config.Elevation && !config.Latitude) {
        return "Elevation= needs Latitude= and Longitude=";
    }
    return "";
}

TSetter WholeSetter(int TStationConfig::*field, long min, long max) {
    return [=](TStationConfig& config, const std::string& value) -> std::string {
        long number = 0;
        if (!ParseWhole(value, min, max, number)) {
            return "must be " + std::to_string(min) + " to " + std::to_string(max);
        }
        config.*field = int(number);
        return "";
    };
}

// DEVICE|PORT: a device path, a port number or a name under /dev; never empty.
std::string SetTarget(TStationConfig& config, const std::string& value) {
    if (HasControl(value)) {
        return "must not contain control characters";
    }
    std::string device;
    uint8_t port = 0;
    if (std::string error = ParsePortArgument(value, device, port); !error.empty()) {
        return error;
    }
    config.Device = device;
    config.Port = device.empty() ? port : 0;
    return "";
}

// The Device key: as DEVICE|PORT, or empty for none.
std::string SetDevice(TStationConfig& config, const std::string& value) {
    if (value.empty()) {
        config.Device.clear();
        config.Port = 0;
        return "";
    }
    return SetTarget(config, value);
}

std::string SetPath(std::string& field, const std::string& value, bool allowEmpty) {
    if (value.empty() && !allowEmpty) {
        return "must not be empty";
    }
    if (HasControl(value)) {
        return "must not contain control characters";
    }
    field = value;
    return "";
}

std::string SetLayout(TStationConfig& config, const std::string& value) {
    const std::string lower = Lower(value);
    if (lower == "sds") {
        config.Layout = TArchiveLayout::Sds;
    } else if (lower == "periods") {
        config.Layout = TArchiveLayout::Periods;
    } else {
        return "must be sds or periods";
    }
    return "";
}

// A code of letters and digits, taken in upper case, from minLength to maxLength long.
TSetter CodeSetter(std::string TStationConfig::*field, size_t minLength, size_t maxLength,
                   const char* reason) {
    return [=](TStationConfig& config, const std::string& value) -> std::string {
        const std::string code = Upper(value);
        if (code.size() < minLength || code.size() > maxLength || !IsCodeText(code)) {
            return reason;
        }
        config.*field = code;
        return "";
    };
}

std::string SetLocation(TStationConfig& config, const std::string& value) {
    return CodeSetter(&TStationConfig::Location, 0, 2,
                      "must be at most 2 letters or digits (empty or --: none)")(
        config, value == "--" ? "" : value);
}

std::string SetChannelCodes(TStationConfig& config, const std::string& value) {
    std::vector<std::string> codes;
    if (!TrimBlanks(value).empty()) {
        size_t start = 0;
        while (true) {
            const size_t comma = value.find(',', start);
            std::string code = Upper(TrimBlanks(value.substr(
                start, comma == std::string::npos ? std::string::npos : comma - start)));
            // LOC.CHA: a location of its own, "--" or nothing for none.
            const size_t dot = code.find('.');
            std::string location = dot == std::string::npos ? "" : code.substr(0, dot);
            const std::string channel = dot == std::string::npos ? code : code.substr(dot + 1);
            if (location == "--") {
                location.clear();
                code = "." + channel;
            }
            if (channel.size() < 2 || channel.size() > 3 || !IsCodeText(channel) ||
                location.size() > 2 || (!location.empty() && !IsCodeText(location))) {
                std::string error = "'";
                error += Shown(code);
                error +=
                    "': a channel code is 2 or 3 letters or digits, after LL. for a "
                    "location of its own (up to 2 letters or digits)";
                return error;
            }
            if (std::find(codes.begin(), codes.end(), code) != codes.end()) {
                return "'" + code + "' is given twice";
            }
            codes.push_back(code);
            if (codes.size() > MaxChannelCodes) {
                return "at most 6 channel codes, one per channel";
            }
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    config.ChannelCodes = std::move(codes);
    return "";
}

std::string SetBaud(TStationConfig& config, const std::string& value) {
    long baud = 0;
    if (Lower(value) == "auto") {
        config.Baud = 0;
    } else if (ParseWhole(value, 1, 115200, baud) && BaudRateIndex(int32_t(baud)) >= 0) {
        config.Baud = uint32_t(baud);
    } else {
        return "must be auto or one of 1200 2400 4800 9600 19200 38400 57600 115200";
    }
    return "";
}

std::string SetSoh(TStationConfig& config, const std::string& value) {
    const std::string lower = Lower(value);
    if (lower == "yes" || lower == "true" || lower == "1" || lower == "on") {
        config.Soh = true;
    } else if (lower == "no" || lower == "false" || lower == "0" || lower == "off") {
        config.Soh = false;
    } else {
        return "must be yes or no (or true/false, 1/0, on/off)";
    }
    return "";
}

std::string SetSeedLink(TStationConfig& config, const std::string& value) {
    std::string error;
    if (!value.empty() && !ParseListenAddress(value, error)) {
        return error + " ([ADDR:]PORT, or empty for none)";
    }
    config.SeedLink = value;
    return "";
}

std::string SetSeedLinkAllow(TStationConfig& config, const std::string& value) {
    std::string error;
    if (!ParseAddressRanges(value, error)) {
        return error;
    }
    config.SeedLinkAllow = value;
    return "";
}

std::string SetSeedLinkTrusted(TStationConfig& config, const std::string& value) {
    std::string error;
    if (!ParseAddressRanges(value, error)) {
        return error;
    }
    config.SeedLinkTrusted = value;
    return "";
}

std::string SetHttp(TStationConfig& config, const std::string& value) {
    std::string error;
    const std::optional<TListenAddress> address =
        value.empty() ? std::nullopt : ParseListenAddress(value, error);
    if (!value.empty() && !address) {
        return error + " ([ADDR:]PORT, or empty for none)";
    }
    if (address && address->Host.find(':') != std::string::npos) {
        return "the HTTP server listens on IPv4 addresses only";
    }
    config.Http = value;
    return "";
}

std::string SetHttpAllow(TStationConfig& config, const std::string& value) {
    std::string error;
    if (!ParseAddressRanges(value, error)) {
        return error;
    }
    config.HttpAllow = value;
    return "";
}

std::string SetDataLink(TStationConfig& config, const std::string& value) {
    if (!value.empty()) {
        const TResult<TDataLinkAddress> address = ParseDataLinkAddress(value);
        if (!address) {
            return address.Error().Text + " (HOST[:PORT], or empty for none)";
        }
    }
    config.DataLink = value;
    return "";
}

const std::vector<TKey>& Keys() {
    static const std::vector<TKey> keys = WithSensorKeys(WithSectionKeys({
        {"Device", "--device", SetDevice},
        {"Archive", "--archive",
         [](TStationConfig& c, const std::string& v) { return SetPath(c.Archive, v, false); }},
        {"Layout", "--layout", SetLayout},
        {"Network", "--network",
         CodeSetter(&TStationConfig::Network, 1, 2, "must be 1 or 2 letters or digits")},
        {"Station", "--station",
         CodeSetter(&TStationConfig::Station, 0, 5,
                    "must be at most 5 letters or digits (empty: the unit's serial number)")},
        {"Location", "--location", SetLocation},
        {"ChannelCodes", "--channel-codes", SetChannelCodes},
        {"RecordLength", "--record-length",
         [](TStationConfig& c, const std::string& v) -> std::string {
             if (v != "512" && v != "4096") {
                 return "must be 512 or 4096";
             }
             c.RecordLength = v == "512" ? 512 : 4096;
             return "";
         }},
        {"FlushSeconds", "--flush-seconds", WholeSetter(&TStationConfig::FlushSeconds, 1, 3600)},
        {"Baud", "--baud", SetBaud},
        {"StatusFile", "--status-file",
         [](TStationConfig& c, const std::string& v) { return SetPath(c.StatusFile, v, true); }},
        {"Soh", nullptr, SetSoh},
        {"DurationMinutes", "--duration-minutes",
         WholeSetter(&TStationConfig::DurationMinutes, 1, 60)},
        {"QueueMegabytes", "--queue-megabytes",
         WholeSetter(&TStationConfig::QueueMegabytes, 1, 4096)},
        {"KeepDays", "--keep-days", WholeSetter(&TStationConfig::KeepDays, 0, 100000)},
        {"MinFreePercent", "--min-free-percent",
         WholeSetter(&TStationConfig::MinFreePercent, 0, 99)},
        {"SeedLink", "--seedlink", SetSeedLink},
        {"SeedLinkRingMB", "--seedlink-ring-mb",
         WholeSetter(&TStationConfig::SeedLinkRingMegabytes, 1, 65536)},
        {"SeedLinkRingFile", "--seedlink-ring-file",
         [](TStationConfig& c, const std::string& v) {
             return SetPath(c.SeedLinkRingFile, v, true);
         }},
        {"SeedLinkAllow", "--seedlink-allow", SetSeedLinkAllow},
        {"SeedLinkTrusted", "--seedlink-trusted", SetSeedLinkTrusted},
        {"SeedLinkFlush", "--seedlink-flush", WholeSetter(&TStationConfig::SeedLinkFlush, 0, 3600)},
        {"SeedLinkMaxClients", "--seedlink-max-clients",
         WholeSetter(&TStationConfig::SeedLinkMaxClients, 1, 10000)},
        {"SeedLinkTimeout", "--seedlink-timeout",
         WholeSetter(&TStationConfig::SeedLinkTimeout, 1, 3600)},
        {"DataLink", "--datalink", SetDataLink},
        {"Http", "--http", SetHttp},
        {"HttpAllow", "--http-allow", SetHttpAllow},
        {"HttpMaxConnections", "--http-max-connections",
         WholeSetter(&TStationConfig::HttpMaxConnections, 1, 1000)},
        {"HttpRequestTimeout", "--http-request-timeout",
         WholeSetter(&TStationConfig::HttpRequestTimeout, 1, 3600)},
        {"HttpIdleTimeout", "--http-idle-timeout",
         WholeSetter(&TStationConfig::HttpIdleTimeout, 1, 3600)},
        {"HttpRoot", "--http-root",
         [](TStationConfig& c, const std::string& v) { return SetPath(c.HttpRoot, v, true); }},
        {"HttpDataSelectMaxMB", "--http-dataselect-max-mb",
         WholeSetter(&TStationConfig::HttpDataSelectMaxMB, 1, 1000000)},
        {"Latitude", "--latitude", PlaceSetter(&TStationConfig::Latitude, -90, 90)},
        {"Longitude", "--longitude", PlaceSetter(&TStationConfig::Longitude, -180, 180)},
        {"Elevation", "--elevation", PlaceSetter(&TStationConfig::Elevation, -12000, 9000)},
        {"SiteName", "--site-name",
         [](TStationConfig& c, const std::string& v) { return SetPath(c.SiteName, v, true); }},
    }));
    return keys;
}

const TKey* FindKey(const std::string& iniName, const char* section = SectionName) {
    for (const TKey& key : Keys()) {
        if (Lower(key.IniName) == Lower(iniName) && Lower(key.Section) == Lower(section)) {
            return &key;
        }
    }
    return nullptr;
}

// --- The configuration file ---

// Applies the [Station] section of `text` to `config`. The lines are classified as TIniFile
// classifies them, so that every key it would read is checked here first: a section or key
// this program does not know, a key given twice, a second [Station] section and a line that
// is not Key=Value would otherwise be ignored without a word.
std::string ApplyIni(TStationConfig& config, const std::string& text, const std::string& name) {
    TIniFile ini;
    ini.Parse(text);
    // The sections this program knows, and how often each was seen.
    std::vector<std::pair<const char*, int>> sections = {{SectionName, 0},
                                                         {EventSectionName, 0},
                                                         {AlarmSectionName, 0},
                                                         {SensorSections[0], 0},
                                                         {SensorSections[1], 0}};
    const char* inSection = nullptr;
    std::vector<std::string> spelled(Keys().size());
    size_t start = 0;
    for (int lineNumber = 1; start < text.size(); ++lineNumber) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string raw = text.substr(start, end - start);
        start = end + 1;
        const std::string trimmed = TrimBlanks(raw);
        const std::string where = name + ": line " + std::to_string(lineNumber) + ": ";
        if (!trimmed.empty() && trimmed.front() == '[' && trimmed.find(']') != std::string::npos) {
            const std::string section = TrimBlanks(trimmed.substr(1, trimmed.find(']') - 1));
            const auto known = std::find_if(sections.begin(), sections.end(), [&](auto& s) {
                return Lower(s.first) == Lower(section);
            });
            if (known == sections.end()) {
                return where + "unknown section [" + Shown(section) + "]; the known ones are [" +
                       SectionName + "], [" + EventSectionName + "], [" + AlarmSectionName +
                       "], [" + SensorSections[0] + "] and [" + SensorSections[1] + "]";
            }
            inSection = known->first;
            if (++known->second > 1) {
                return where + "a second [" + inSection + "] section; keep all its keys in one";
            }
            continue;
        }
        if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') {
            continue;
        }
        if (inSection == nullptr) {
            return where + "'" + Shown(trimmed) + "' is before the [" + SectionName + "] section";
        }
        const size_t equals = raw.find('=');
        const std::string keyName =
            equals == std::string::npos ? "" : TrimBlanks(raw.substr(0, equals));
        if (keyName.empty()) {
            return where + "'" + Shown(trimmed) + "' is not a Key=Value line";
        }
        const TKey* key = FindKey(keyName, inSection);
        const std::string shown = name + ": " + Shown(trimmed) + ": ";
        if (key == nullptr) {
            return shown + "unknown key in [" + inSection + "]";
        }
        std::string& first = spelled[size_t(key - Keys().data())];
        if (!first.empty()) {
            return shown + key->IniName + " is given twice";
        }
        first = keyName;
    }
    for (size_t i = 0; i < Keys().size(); ++i) {
        const TKey& key = Keys()[i];
        const std::optional<std::string> value = ini.Get(key.Section, key.IniName);
        if (!value) {
            continue;
        }
        const std::string reason = key.Set(config, *value);
        if (!reason.empty()) {
            const std::string section =
                key.Section == SectionName ? "" : std::string("[") + key.Section + "] ";
            return name + ": " + section + spelled[i] + "=" + Shown(*value) + ": " + reason;
        }
    }
    return "";
}

// The file's text; nothing when it does not exist; `error` set when it cannot be read.
std::optional<std::string> ReadConfigFile(const std::string& path, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = path + ": " + std::strerror(errno);
        }
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + ": not a regular file";
        return std::nullopt;
    }
    if (size_t(info.st_size) > TIniFile::MaxFileSize) {
        error = path + ": larger than 1 MiB";
        return std::nullopt;
    }
    TIniFile ini;
    if (!ini.Load(path)) {
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int openError = errno;
        if (fd >= 0) {
            close(fd);
        }
        error = path + ": " + (fd < 0 ? std::strerror(openError) : "cannot be read");
        return std::nullopt;
    }
    return ini.Text();
}

// --- The command line ---

struct TOptionValue {
    const TKey* Key;
    std::string Value;
    std::string Typed;  // the option as typed, with its value
};

struct TArgScan {
    TCommandAction Action = TCommandAction::Run;
    bool ListPorts = false;
    bool PrintConfig = false;
    bool StationXml = false;
    bool Status = false;
    std::optional<std::string> StatusFile;  // the FILE of --status
    std::optional<std::string> ConfigPath;
    std::optional<std::string> Target;  // DEVICE|PORT
    std::vector<TOptionValue> Options;
    std::string Error;  // the first fault found
};

bool IsPortNumber(const std::string& text) {
    long port = 0;
    return ParseWhole(text, 1, 255, port);
}

TArgScan ScanArgs(const std::vector<std::string>& args) {
    TArgScan scan;
    TOptionTable table;
    // A key's value is checked as it is read (so that the fault names the option as typed)
    // and set after the file's.
    const auto keyOption = [&](const TKey* key, const std::string& option) {
        return [&scan, key, option](const std::string& value) {
            TStationConfig checked;
            const std::string reason = key->Set(checked, value);
            if (reason.empty()) {
                scan.Options.push_back({key, value, option + " " + value});
            }
            return reason;
        };
    };
    const auto fixedOption = [&](const TKey* key, const char* value) {
        return [&scan, key, value] { scan.Options.push_back({key, value, ""}); };
    };
    for (const TKey& key : Keys()) {
        if (key.Option != nullptr) {
            table.Value(key.Option, keyOption(&key, key.Option));
        }
    }
    table.Flag("--soh", fixedOption(FindKey("Soh"), "yes"))
        .Flag("--no-soh", fixedOption(FindKey("Soh"), "no"))
        .Flag("--trigger", fixedOption(FindKey("Enable", EventSectionName), "yes"))
        .Flag("--no-trigger", fixedOption(FindKey("Enable", EventSectionName), "no"))
        .Flag("--print-config", [&] { scan.PrintConfig = true; })
        .Flag("--stationxml", [&] { scan.StationXml = true; })
        .Flag("--list-ports", [&] { scan.ListPorts = true; })
        .Value("--config",
               [&](const std::string& path) {
                   scan.ConfigPath = path;
                   return path.empty() ? "needs a file name" : "";
               })
        // The next argument is the status file unless it names a device.
        .OptionalValue(
            "--status",
            [](const std::string& next) {
                return next.rfind("-", 0) != 0 && next.rfind("/dev/", 0) != 0 &&
                       !IsPortNumber(next);
            },
            [&](const std::optional<std::string>& file) {
                scan.Status = true;
                scan.StatusFile = file;
                return file && file->empty() ? "needs a file name after =" : "";
            })
        .Operands(1, [&](const std::string& target) {
            scan.Target = target;
            return "";
        });
    const TCommandScan common = table.Scan(args);
    scan.Action = common.Action;
    scan.Error = common.Error;
    if (scan.Error.empty() && int(scan.Status) + int(scan.PrintConfig) + int(scan.StationXml) > 1) {
        scan.Error = "use one of --status, --print-config and --stationxml";
    }
    return scan;
}

// The early answer of a command line that reads no file: help, version, the ports or a fault.
std::optional<TStationCommand> EarlyAnswer(const TArgScan& scan) {
    TStationCommand command;
    if (scan.Action == TCommandAction::Help) {
        command.Action = TStationAction::Help;
    } else if (scan.Action == TCommandAction::Version) {
        command.Action = TStationAction::Version;
    } else if (!scan.Error.empty()) {
        command.Error = scan.Error;
    } else if (scan.ListPorts) {
        command.Action = TStationAction::ListPorts;
    } else {
        return std::nullopt;
    }
    if (scan.ConfigPath) {
        command.Config.ConfigPath = *scan.ConfigPath;
        command.Config.ConfigPathGiven = true;
    }
    return command;
}

TStationCommand Finish(const TArgScan& scan, const std::optional<std::string>& iniText,
                       const std::string& iniName) {
    TStationCommand command;
    TStationConfig& config = command.Config;
    if (scan.ConfigPath) {
        config.ConfigPath = *scan.ConfigPath;
        config.ConfigPathGiven = true;
    }
    const std::string name = iniName.empty() ? config.ConfigPath : iniName;
    if (iniText) {
        command.Error = ApplyIni(config, *iniText, name);
    } else if (config.ConfigPathGiven) {
        command.Error = name + ": no such file";
    }
    for (size_t i = 0; i < scan.Options.size() && command.Error.empty(); ++i) {
        const TOptionValue& option = scan.Options[i];
        if (scan.Target && option.Key == FindKey("Device")) {
            command.Error = Shown(option.Typed) + ": the device is given twice";
            break;
        }
        const std::string reason = option.Key->Set(config, option.Value);
        if (!reason.empty()) {
            command.Error = Shown(option.Typed) + ": " + reason;
        }
    }
    if (command.Error.empty() && scan.Target) {
        command.Error = SetTarget(config, *scan.Target);
    }
    if (command.Error.empty()) {
        command.Error = CheckEventConfig(config.Events);
    }
    if (command.Error.empty()) {
        command.Error = CheckSensors(config);
    }
    if (command.Error.empty() && scan.StatusFile) {
        const std::string reason = SetPath(config.StatusFile, *scan.StatusFile, false);
        if (!reason.empty()) {
            command.Error = "--status " + Shown(*scan.StatusFile) + ": " + reason;
        }
    }
    command.Action = scan.Status        ? TStationAction::Status
                     : scan.PrintConfig ? TStationAction::PrintConfig
                     : scan.StationXml  ? TStationAction::StationXml
                                        : TStationAction::Run;
    if (command.Error.empty() && command.Action == TStationAction::Run &&
        StationDevicePath(config).empty()) {
        command.Error = "which digitizer? Give DEVICE or PORT, or Device= in " + name;
    }
    if (!command.Error.empty()) {
        command.Action = TStationAction::Run;
    }
    return command;
}

}  // namespace

TStationCommand ParseStationCommand(const std::vector<std::string>& args,
                                    const std::optional<std::string>& iniText,
                                    const std::string& iniName) {
    const TArgScan scan = ScanArgs(args);
    if (std::optional<TStationCommand> early = EarlyAnswer(scan)) {
        return *early;
    }
    return Finish(scan, iniText, iniName);
}

TStationCommand ParseStationCommand(const std::vector<std::string>& args) {
    const TArgScan scan = ScanArgs(args);
    if (std::optional<TStationCommand> early = EarlyAnswer(scan)) {
        return *early;
    }
    std::string error;
    const std::string path = scan.ConfigPath.value_or(TStationConfig().ConfigPath);
    const std::optional<std::string> text = ReadConfigFile(path, error);
    if (!error.empty()) {
        TStationCommand command;
        command.Config.ConfigPath = path;
        command.Config.ConfigPathGiven = scan.ConfigPath.has_value();
        command.Error = error;
        return command;
    }
    return Finish(scan, text, "");
}

std::string StationDevicePath(const TStationConfig& config) {
    if (!config.Device.empty()) {
        return config.Device;
    }
    return config.Port >= 1 && config.Port <= 255 ? "/dev/ttyS" + std::to_string(config.Port - 1)
                                                  : "";
}

std::string FormatStationConfig(const TStationConfig& config) {
    std::string codes;
    for (const std::string& code : config.ChannelCodes) {
        codes += (codes.empty() ? "" : ",") + code;
    }
    const std::vector<std::pair<const char*, std::string>> values = {
        {"Device", !config.Device.empty() ? config.Device
                   : config.Port > 0      ? std::to_string(config.Port)
                                          : ""},
        {"Archive", config.Archive},
        {"Layout", config.Layout == TArchiveLayout::Sds ? "sds" : "periods"},
        {"Network", config.Network},
        {"Station", config.Station},
        {"Location", config.Location},
        {"ChannelCodes", codes},
        {"RecordLength", std::to_string(config.RecordLength)},
        {"FlushSeconds", std::to_string(config.FlushSeconds)},
        {"Baud", config.Baud == 0 ? "auto" : std::to_string(config.Baud)},
        {"StatusFile", config.StatusFile},
        {"Soh", config.Soh ? "yes" : "no"},
        {"DurationMinutes", std::to_string(config.DurationMinutes)},
        {"QueueMegabytes", std::to_string(config.QueueMegabytes)},
        {"KeepDays", std::to_string(config.KeepDays)},
        {"MinFreePercent", std::to_string(config.MinFreePercent)},
        {"SeedLink", config.SeedLink},
        {"SeedLinkRingMB", std::to_string(config.SeedLinkRingMegabytes)},
        {"SeedLinkRingFile", config.SeedLinkRingFile},
        {"SeedLinkAllow", config.SeedLinkAllow},
        {"SeedLinkTrusted", config.SeedLinkTrusted},
        {"SeedLinkFlush", std::to_string(config.SeedLinkFlush)},
        {"SeedLinkMaxClients", std::to_string(config.SeedLinkMaxClients)},
        {"SeedLinkTimeout", std::to_string(config.SeedLinkTimeout)},
        {"DataLink", config.DataLink},
        {"Http", config.Http},
        {"HttpAllow", config.HttpAllow},
        {"HttpMaxConnections", std::to_string(config.HttpMaxConnections)},
        {"HttpRequestTimeout", std::to_string(config.HttpRequestTimeout)},
        {"HttpIdleTimeout", std::to_string(config.HttpIdleTimeout)},
        {"HttpRoot", config.HttpRoot},
        {"HttpDataSelectMaxMB", std::to_string(config.HttpDataSelectMaxMB)},
        {"Latitude", config.Latitude ? ExactNumber(*config.Latitude) : ""},
        {"Longitude", config.Longitude ? ExactNumber(*config.Longitude) : ""},
        {"Elevation", config.Elevation ? ExactNumber(*config.Elevation) : ""},
        {"SiteName", config.SiteName},
    };
    TIniFile ini;
    ini.Parse(
        "; digitizer-station configuration\n"
        "; Device: a path beginning with / or a port number (1 is /dev/ttyS0).\n"
        "; Empty values: Station from the unit's serial number, Location none,\n"
        "; ChannelCodes chosen from the sample rate, StatusFile the service's default.\n"
        "; [Events]: Enable=yes detects events; File empty is events.jsonl in the archive,\n"
        "; CsvFile and OnEvent empty are none.\n"
        "; [Alarms]: a threshold of off turns its alarm off; OnAlarm empty is none.\n"
        "; Latitude, Longitude, Elevation empty: from the unit's GPS. [Sensor 1-3] and\n"
        "; [Sensor 4-6], when there, describe the sensors of the channels.\n"
        "[Station]\n");
    for (const auto& [key, value] : values) {
        ini.Set(SectionName, key, value);
    }
    for (const TEventKey& key : EventKeys()) {
        ini.Set(EventSectionName, key.IniName, key.Get(config.Events));
    }
    for (const TAlarmKey& key : AlarmKeys()) {
        ini.Set(AlarmSectionName, key.IniName, key.Get(config.Alarms));
    }
    for (size_t group = 0; group < 2; ++group) {
        if (config.Sensors[group]) {
            for (const TSensorKey& key : SensorKeys()) {
                ini.Set(SensorSections[group], key.IniName, key.Get(*config.Sensors[group]));
            }
        }
    }
    return ini.Text();
}

std::string SeedLinkRingPath(const TStationConfig& config) {
    if (!config.SeedLinkRingFile.empty()) {
        return config.SeedLinkRingFile;
    }
    std::string device = StationDevicePath(config);
    const size_t slash = device.rfind('/');
    if (slash != std::string::npos) {
        device.erase(0, slash + 1);
    }
    return config.Archive + "/seedlink-" + (device.empty() ? std::string("station") : device) +
           ".ring";
}

const char* StationUsage() {
    return "Usage: digitizer-station DEVICE|PORT [--config FILE] [options]\n"
           "       digitizer-station [DEVICE|PORT] --print-config [options]\n"
           "       digitizer-station [DEVICE|PORT] --stationxml [options]\n"
           "       digitizer-station [DEVICE|PORT] --status [FILE]\n"
           "\n"
           "Records the samples of the digitizer on DEVICE (a path such as /dev/ttyUSB0)\n"
           "or serial port number PORT (1 is /dev/ttyS0) into a miniSEED archive,\n"
           "unattended, until SIGINT or SIGTERM.\n"
           "\n"
           "Each option below except --config is also a key of the [Station] section of\n"
           "the configuration file (--record-length is RecordLength, --soh is Soh=yes);\n"
           "the command line wins over the file. --option=value works as well.\n"
           "\n"
           "  --config FILE           the configuration file (default\n"
           "                          /etc/kestrel32/station.ini, which may be missing)\n"
           "  --device DEVICE|PORT    the digitizer, as the first argument gives it\n"
           "  --archive DIR           the archive (default /var/lib/kestrel32/archive)\n"
           "  --layout sds|periods    day files in an SDS tree, or files of\n"
           "                          --duration-minutes in day directories (default sds)\n"
           "  --network NN            network code, 1 or 2 letters or digits (default XX)\n"
           "  --station SSSSS         station code, up to 5 letters or digits\n"
           "                          (default: the last 4 characters of the unit's\n"
           "                          serial number)\n"
           "  --location LL           location code, up to 2 letters or digits, or --\n"
           "                          (default none)\n"
           "  --channel-codes C1,...  up to 6 channel codes, one per channel, each\n"
           "                          [LL.]CHA or [LL.]IO: a location of its own, then 3\n"
           "                          characters whose band letter follows the sample rate,\n"
           "                          or 2 after it (default: chosen from the sample rate)\n"
           "  --record-length N       miniSEED record length, 512 or 4096 (default 4096)\n"
           "  --flush-seconds S       write what is recorded at least every S seconds of\n"
           "                          data, 1 to 3600 (default 60)\n"
           "  --baud B|auto           line speed 1200, 2400, 4800, 9600, 19200, 38400,\n"
           "                          57600 or 115200, or auto to search (default auto)\n"
           "  --status-file FILE      the status file, rewritten every 10 s (default\n"
           "                          /run/kestrel32/<device name>.json)\n"
           "  --soh, --no-soh         record the state-of-health channels or not\n"
           "                          (default --soh)\n"
           "  --duration-minutes M    file period of the periods layout, 1 to 60\n"
           "                          (default 5)\n"
           "  --queue-megabytes M     memory for data not yet written, 1 to 4096\n"
           "                          (default 64)\n"
           "  --keep-days N           remove day files more than N days old, oldest\n"
           "                          first (default 0: keep them)\n"
           "  --min-free-percent P    remove the oldest day files while less than P %\n"
           "                          of the disk is free (default 5; 0: never)\n"
           "  --seedlink [ADDR:]PORT  serve the data live over SeedLink on PORT (18000 is\n"
           "                          usual), on every address or on ADDR (default: none)\n"
           "  --seedlink-ring-mb M    memory for the packets kept for clients to resume\n"
           "                          from, 1 to 65536 (default 300: a day of 6 x 100 sps)\n"
           "  --seedlink-ring-file F  where the packets are kept over a restart (default\n"
           "                          ARCHIVE/seedlink-<device name>.ring)\n"
           "  --seedlink-allow CIDR,...  clients accepted, IPv4 or IPv6 address ranges\n"
           "                          (default: every address)\n"
           "  --seedlink-trusted CIDR,...  clients shown INFO CONNECTIONS (everyone's\n"
           "                          address); empty for none (default 127.0.0.0/8,::1)\n"
           "  --seedlink-flush S      send partial records after S seconds of data, 0 to\n"
           "                          3600 (default 0: only full records)\n"
           "  --seedlink-max-clients N  SeedLink connections at a time, 1 to 10000\n"
           "                          (default 200)\n"
           "  --seedlink-timeout S    close a client silent in the handshake, or taking no\n"
           "                          data, for S seconds, 1 to 3600 (default 60)\n"
           "  --datalink HOST[:PORT]  push every record to a DataLink server (port 16000\n"
           "                          unless given; default: none)\n"
           "  --http [ADDR:]PORT      serve FDSN dataselect (/fdsnws/dataselect/1/), the\n"
           "                          status (/api/status, /api/events, /api/health) and\n"
           "                          the page over HTTP; a bare port listens on loopback\n"
           "                          only, 0.0.0.0:PORT on every IPv4 address\n"
           "  --http-allow CIDR,...   clients accepted (default: every address)\n"
           "  --http-max-connections N  connections served at a time, 1 to 1000 (default 32)\n"
           "  --http-request-timeout S  seconds to read a request or send a piece of the\n"
           "                          answer, 1 to 3600 (default 30)\n"
           "  --http-idle-timeout S   seconds a kept-alive connection may wait for its next\n"
           "                          request, 1 to 3600 (default 10)\n"
           "  --http-root DIR         the page's files (default: the live page installed\n"
           "                          with the program, PREFIX/share/kestrel32/web)\n"
           "  --http-dataselect-max-mb M  refuse dataselect answers larger than M MB with\n"
           "                          413 (default 1024)\n"
           "  --latitude DEG          the station's latitude, -90 to 90, with\n"
           "                          --longitude DEG, -180 to 180, and --elevation M\n"
           "                          (default: the unit's GPS, once its fixes are steady)\n"
           "  --site-name TEXT        the site's name in the metadata (default: the\n"
           "                          station code)\n"
           "\n"
           "Event detection (keys of the [Events] section; off unless asked for):\n"
           "  --trigger, --no-trigger detect events or not (Enable=yes/no; default no)\n"
           "  --trigger-bandpass yes|no  band-pass the samples before the triggers\n"
           "                          (default yes)\n"
           "  --trigger-low HZ        the band's lower corner (default 1)\n"
           "  --trigger-high HZ       the band's upper corner, brought below 0.45 x the\n"
           "                          sample rate (default 10)\n"
           "  --trigger-poles N       poles on each side of the band, 1 to 4 (default 2)\n"
           "  --trigger-sta S         short-term average, seconds (default 1)\n"
           "  --trigger-lta S         long-term average, seconds, up to 3600 (default 30)\n"
           "  --trigger-on R          a channel triggers at STA/LTA R (default 4)\n"
           "  --trigger-off R         and stops below R (default 1.5)\n"
           "  --trigger-channels C    channels taking part: 1-6, 1,2,3, 1+3 (default 1-6)\n"
           "  --trigger-coincidence K channels that must trigger together (default 2)\n"
           "  --events-file FILE      one JSON line at each event's start and end\n"
           "                          (default ARCHIVE/events.jsonl)\n"
           "  --events-csv FILE       also one CSV row per event (default: none)\n"
           "  --on-event COMMAND      run COMMAND at each event's start, the event in its\n"
           "                          environment (EVENT_ID, EVENT_START, ...); split into\n"
           "                          words with ' \" \\ quoting, never through a shell\n"
           "  --on-event-seconds S    the command's time limit, 1 to 3600 (default 60)\n"
           "\n"
           "Alarms on the unit's health (keys of the [Alarms] section; each threshold\n"
           "may be off). An alarm is raised once when its value goes past the threshold\n"
           "and cleared once when it is back by a margin (0.2 V, 2 deg C, 10 % of the\n"
           "free space, 10 points) or, for the durations, when the streak ends:\n"
           "  --alarm-supply-below V  supply voltage below V (default 10.5)\n"
           "  --alarm-supply-above V  supply voltage above V (default 15)\n"
           "  --alarm-temperature-above C  sensor or module temperature above C deg C\n"
           "                          (default 60)\n"
           "  --alarm-gps-unlocked S  no GPS fix for more than S seconds (default 3600)\n"
           "  --alarm-no-data S       no block for more than S seconds (default 60)\n"
           "  --alarm-disk-free-below MB  less than MB megabytes free in the archive\n"
           "                          (default 1024)\n"
           "  --alarm-timing-quality-below Q  timing quality below Q, 0 to 100\n"
           "                          (default off)\n"
           "  --on-alarm COMMAND      run COMMAND at each alarm raised and cleared, one at\n"
           "                          a time, the alarm in its environment (ALARM_NAME,\n"
           "                          ALARM_STATE, ALARM_VALUE, ALARM_THRESHOLD, ...); split\n"
           "                          as --on-event is\n"
           "  --on-alarm-seconds S    the command's time limit, 1 to 3600 (default 60)\n"
           "\n"
           "  --print-config          print the configuration in force as INI text for\n"
           "                          the file, and exit\n"
           "  --stationxml            print the station's StationXML metadata for the\n"
           "                          configuration and the archive in force, and exit\n"
           "                          (the sensors: sections [Sensor 1-3], [Sensor 4-6])\n"
           "  --status [FILE]         show the status file (FILE, else the device's) for\n"
           "                          a person, and exit; a FILE under /dev/ or a number\n"
           "                          is taken for the device, --status=FILE is not\n"
           "  --list-ports            list the serial ports present, and exit\n"
           "  --help                  show this text\n"
           "  --version               show the program's version\n"
           "\n"
           "Exits with 2 for a wrong command line or configuration file.\n";
}
