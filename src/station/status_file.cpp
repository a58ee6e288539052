#include "station/status_file.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <set>

#include "base/json_text.h"

namespace {

constexpr int MaxDepth = 64;
constexpr int64_t Second = 1000000;
constexpr int64_t StaleAfter = 30 * Second;

// --- Reading JSON ---

using TJson = nlohmann::ordered_json;

// Why a text was refused while it was read.
struct TRefused {
    std::string Reason;
};

// `text` as one JSON value nested at most `maxDepth` deep in which no object gives a member
// name twice; nothing, with `error` saying where and why, when it is not.
std::optional<TJson> ReadJson(const std::string& text, int maxDepth, std::string& error) {
    std::vector<std::set<std::string>> names;  // those of each object open
    const auto check = [&](int depth, TJson::parse_event_t event, TJson& parsed) {
        using TEvent = TJson::parse_event_t;
        if ((event == TEvent::object_start || event == TEvent::array_start) && depth >= maxDepth) {
            throw TRefused{"nested deeper than " + std::to_string(maxDepth)};
        }
        if (event == TEvent::object_start) {
            names.emplace_back();
        } else if (event == TEvent::object_end && !names.empty()) {
            names.pop_back();
        } else if (event == TEvent::key && !names.empty()) {
            const std::string& name = parsed.get_ref<const std::string&>();
            if (!names.back().insert(name).second) {
                // The name as plain ASCII: the error may be shown on a terminal.
                std::string shown = name;
                std::replace_if(
                    shown.begin(), shown.end(), [](char c) { return c < 0x20 || c >= 0x7F; }, '?');
                throw TRefused{"'" + shown + "' is given twice"};
            }
        }
        return true;
    };
    try {
        return TJson::parse(text, check);
    } catch (const TRefused& refused) {
        error = refused.Reason;
    } catch (const TJson::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 1, column 2: syntax error
        // ...; last read: '...'": without the bytes read, which need not be printable.
        const std::string what = e.what();
        const size_t start = what.find("] ");
        error = what.substr(start == std::string::npos ? 0 : start + 2);
        error = error.substr(0, error.find("; last read: "));
    }
    return std::nullopt;
}

// --- Times ---

// Quotient and remainder rounded towards minus infinity.
void FloorDivide(int64_t value, int64_t divisor, int64_t& quotient, int64_t& remainder) {
    quotient = value / divisor;
    remainder = value % divisor;
    if (remainder < 0) {
        remainder += divisor;
        --quotient;
    }
}

struct TUtc {
    int64_t Year;
    int Month, Day, Hour, Minute, Second, Microsecond;
};

TUtc UtcFromMicroseconds(int64_t microseconds) {
    int64_t seconds = 0, micro = 0, days = 0, secondOfDay = 0;
    FloorDivide(microseconds, Second, seconds, micro);
    FloorDivide(seconds, 86400, days, secondOfDay);
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {year,
            month,
            day,
            int(secondOfDay / 3600),
            int(secondOfDay / 60 % 60),
            int(secondOfDay % 60),
            int(micro)};
}

// "2024-03-01 12:00:00 UTC" for a person.
std::string PersonUtcText(int64_t microseconds) {
    const TUtc t = UtcFromMicroseconds(microseconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d UTC", (long long)t.Year,
                  t.Month, t.Day, t.Hour, t.Minute, t.Second);
    return text;
}

// a - b, held to the range of int64_t.
int64_t Difference(int64_t a, int64_t b) {
    int64_t result = 0;
    if (__builtin_sub_overflow(a, b, &result)) {
        return a > b ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    }
    return result;
}

// --- The status as JSON ---

// clang-format off
const char* const FixedMembers[] = {
    "program", "version", "pid", "started_us", "started_utc", "updated_us", "updated_utc",
    "device", "line_rate", "link_state", "blocks_received", "damaged_frames", "gaps",
    "channels", "archive", "archive_free_bytes", "queued_bytes", "dropped_samples", "files_removed",
    "last_error", "last_error_us", "last_error_utc"};
// clang-format on

bool IsFixedMember(const std::string& name) {
    return std::find(std::begin(FixedMembers), std::end(FixedMembers), name) !=
           std::end(FixedMembers);
}

template <typename T>
TJson Optional(const std::optional<T>& value) {
    return value ? TJson(*value) : TJson();
}

// A time as microseconds and as text: name_us and name_utc.
void AddTime(TJson& object, const std::string& name, std::optional<int64_t> value) {
    object[name + "_us"] = Optional(value);
    object[name + "_utc"] = value ? TJson(IsoUtcText(*value)) : TJson();
}

// --- Reading the members back ---

bool Whole(const TJson& value, int64_t min, int64_t max, int64_t& out) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<uint64_t>();
        if (number > uint64_t(max) || int64_t(number) < min) {
            return false;
        }
        out = int64_t(number);
        return true;
    }
    if (value.is_number_integer()) {
        const auto number = value.get<int64_t>();
        if (number < min || number > max) {
            return false;
        }
        out = number;
        return true;
    }
    return false;
}

// Reads the members it is given handlers for; each handler returns the reason for a refusal.
class TMemberReader {
  public:
    static constexpr int64_t Min = std::numeric_limits<int64_t>::min();
    static constexpr int64_t Max = std::numeric_limits<int64_t>::max();
    using THandler = std::function<const char*(const TJson&)>;

    void On(const char* name, THandler handler) { handlers_.emplace(name, std::move(handler)); }
    void Int(const char* name, int64_t& field) {
        On(name, [&field](const TJson& v) {
            return Whole(v, Min, Max, field) ? nullptr : "not a whole number";
        });
    }
    void String(const char* name, std::string& field) {
        On(name, [&field](const TJson& v) {
            if (!v.is_string()) {
                return "not a string";
            }
            field = v.get<std::string>();
            return static_cast<const char*>(nullptr);
        });
    }
    void OptionalInt(const char* name, std::optional<int64_t>& field) {
        On(name, [&field](const TJson& v) -> const char* {
            int64_t number = 0;
            if (v.is_null()) {
                field.reset();
            } else if (Whole(v, Min, Max, number)) {
                field = number;
            } else {
                return "not a whole number or null";
            }
            return nullptr;
        });
    }
    void Ignore(const char* name) {
        On(name, [](const TJson&) { return nullptr; });
    }

    // Applies the handlers to `object`; members without a handler go to `others`, compact.
    bool Read(const TJson& object, const char* what, std::string& error,
              std::vector<std::pair<std::string, std::string>>* others) {
        if (!object.is_object()) {
            error = std::string(what) + " is not an object";
            return false;
        }
        for (const auto& [name, value] : object.items()) {
            seen_.insert(name);
            const auto handler = handlers_.find(name);
            if (handler == handlers_.end()) {
                if (others != nullptr) {
                    others->emplace_back(name, JsonText(value));
                }
                continue;
            }
            if (const char* reason = handler->second(value)) {
                error = "'" + name + "': " + reason;
                return false;
            }
        }
        return true;
    }

    bool Saw(const std::string& name) const { return seen_.count(name) != 0; }

  private:
    std::map<std::string, THandler> handlers_;
    std::set<std::string> seen_;
};

// --- For a person ---

// "45.0 s", "3 min 12 s", "2 h 05 min", "3 d 4 h".
std::string DurationText(int64_t microseconds) {
    char text[64];
    const int64_t s = microseconds / Second;
    if (s < 60) {
        std::snprintf(text, sizeof text, "%.1f s", double(microseconds) / Second);
    } else if (s < 3600) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", (long long)(s / 60),
                      (long long)(s % 60));
    } else if (s < 86400) {
        std::snprintf(text, sizeof text, "%lld h %02lld min", (long long)(s / 3600),
                      (long long)(s / 60 % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld d %lld h", (long long)(s / 86400),
                      (long long)(s / 3600 % 24));
    }
    return text;
}

// How long before `now` the time `then` was: "3.0 s ago", or "... in the future".
std::string AgoText(int64_t now, int64_t then) {
    const int64_t age = Difference(now, then);
    return age >= 0 ? DurationText(age) + " ago"
                    : DurationText(Difference(then, now)) + " in the future";
}

std::string BytesText(uint64_t bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    double value = double(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string Count(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// A text from the file as it is shown on a terminal: control characters (C0, DEL and C1,
// which a terminal may obey) become '?'.
std::string Printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?';
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

}  // namespace

std::string IsoUtcText(int64_t microseconds) {
    const TUtc t = UtcFromMicroseconds(microseconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%06dZ", (long long)t.Year,
                  t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Microsecond);
    return text;
}

std::string StatusJson(const TStationStatus& status) {
    TJson json = {{"program", status.Program}, {"version", status.Version}, {"pid", status.Pid}};
    AddTime(json, "started", status.StartedMicroseconds);
    AddTime(json, "updated", status.UpdatedMicroseconds);
    json["device"] = status.Device;
    json["line_rate"] = Optional(status.LineRate);
    json["link_state"] = status.LinkState;
    json["blocks_received"] = status.BlocksReceived;
    json["damaged_frames"] = status.DamagedFrames;
    json["gaps"] = status.Gaps;
    json["power_cycles"] = status.PowerCycles;
    json["format_changes"] = status.FormatChanges;
    TJson& channels = json["channels"] = TJson::array();
    for (const TChannelStatus& channel : status.Channels) {
        TJson item = {{"code", channel.Code}, {"samples_recorded", channel.SamplesRecorded}};
        AddTime(item, "last_sample", channel.LastSampleMicroseconds);
        channels.push_back(std::move(item));
    }
    json["archive"] = status.Archive;
    json["archive_free_bytes"] = Optional(status.ArchiveFreeBytes);
    json["queued_bytes"] = status.QueuedBytes;
    json["dropped_samples"] = status.DroppedSamples;
    json["files_removed"] = status.FilesRemoved;
    json["last_error"] = status.LastError;
    AddTime(json, "last_error", status.LastErrorMicroseconds);
    for (const auto& [rawName, raw] : status.Extra) {
        const std::string name = Utf8Text(rawName);
        if (IsFixedMember(name) || json.contains(name)) {
            continue;
        }
        std::string error;
        json[name] = ReadJson(raw, MaxDepth - 1, error).value_or(TJson());
    }
    // A member on each line and a channel on each line, for a person reading the file; every
    // value compact.
    std::string out = "{";
    for (const auto& [name, value] : json.items()) {
        out += out.size() == 1 ? "\n  " : ",\n  ";
        out += JsonText(TJson(name)) + ": ";
        if (name != "channels" || value.empty()) {
            out += JsonText(value);
            continue;
        }
        for (size_t k = 0; k < value.size(); ++k) {
            out += (k == 0 ? "[\n    " : ",\n    ") + JsonText(value[k]);
        }
        out += "\n  ]";
    }
    return out + "\n}\n";
}

bool WriteStatusFile(const std::string& path, const TStationStatus& status, std::string& error) {
    const TStatus written = ReplaceFileDurably(path, StatusJson(status), 0644);
    if (!written) {
        error = written.Error().Text;
    }
    return written.Ok();
}

std::optional<TStationStatus> ParseStatusJson(const std::string& text, std::string& error) {
    if (text.size() > MaxStatusFileSize) {
        error = "larger than 1 MiB";
        return std::nullopt;
    }
    const std::optional<TJson> root = ReadJson(text, MaxDepth, error);
    if (!root) {
        return std::nullopt;
    }
    TStationStatus status;
    TMemberReader top;
    top.String("program", status.Program);
    top.String("version", status.Version);
    top.On("pid", [&](const TJson& v) -> const char* {
        int64_t pid = 0;
        if (!Whole(v, 0, std::numeric_limits<int>::max(), pid)) {
            return "not a process id";
        }
        status.Pid = int(pid);
        return nullptr;
    });
    top.Int("started_us", status.StartedMicroseconds);
    top.Int("updated_us", status.UpdatedMicroseconds);
    top.String("device", status.Device);
    top.On("line_rate", [&](const TJson& v) -> const char* {
        int64_t rate = 0;
        if (v.is_null()) {
            status.LineRate.reset();
        } else if (Whole(v, 0, std::numeric_limits<uint32_t>::max(), rate)) {
            status.LineRate = uint32_t(rate);
        } else {
            return "not a line rate or null";
        }
        return nullptr;
    });
    top.String("link_state", status.LinkState);
    top.Int("blocks_received", status.BlocksReceived);
    top.Int("damaged_frames", status.DamagedFrames);
    top.Int("gaps", status.Gaps);
    top.Int("power_cycles", status.PowerCycles);
    top.Int("format_changes", status.FormatChanges);
    std::string channelError;
    top.On("channels", [&](const TJson& v) -> const char* {
        if (!v.is_array()) {
            return "not a list";
        }
        for (const TJson& item : v) {
            TChannelStatus channel;
            TMemberReader reader;
            reader.String("code", channel.Code);
            reader.Int("samples_recorded", channel.SamplesRecorded);
            reader.OptionalInt("last_sample_us", channel.LastSampleMicroseconds);
            if (!reader.Read(item, "a channel", channelError, nullptr)) {
                return channelError.c_str();
            }
            status.Channels.push_back(std::move(channel));
        }
        return nullptr;
    });
    top.String("archive", status.Archive);
    top.On("archive_free_bytes", [&](const TJson& v) -> const char* {
        if (v.is_null()) {
            status.ArchiveFreeBytes.reset();
        } else if (v.is_number_unsigned()) {
            status.ArchiveFreeBytes = v.get<uint64_t>();
        } else {
            return "not a number of bytes or null";
        }
        return nullptr;
    });
    top.Int("queued_bytes", status.QueuedBytes);
    top.Int("dropped_samples", status.DroppedSamples);
    top.Int("files_removed", status.FilesRemoved);
    top.String("last_error", status.LastError);
    top.OptionalInt("last_error_us", status.LastErrorMicroseconds);
    for (const char* name : {"started_utc", "updated_utc", "last_error_utc"}) {
        top.Ignore(name);
    }
    if (!top.Read(*root, "the status", error, &status.Extra)) {
        return std::nullopt;
    }
    if (!top.Saw("program") || !top.Saw("updated_us")) {
        error = "not a status file: 'program' or 'updated_us' is missing";
        return std::nullopt;
    }
    return status;
}

std::optional<TStationStatus> ReadStatusFile(const std::string& path, std::string& error) {
    // O_NONBLOCK: a FIFO must not wait for a writer; it is refused below.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    std::string text;
    const char* reason = nullptr;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = "not a regular file";
    } else if (size_t(info.st_size) > MaxStatusFileSize) {
        reason = "larger than 1 MiB";
    }
    char buffer[65536];
    while (reason == nullptr) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reason = std::strerror(errno);
        } else if (n == 0) {
            break;
        } else if (text.size() + size_t(n) > MaxStatusFileSize) {
            reason = "larger than 1 MiB";  // it grew after fstat
        } else {
            text.append(buffer, size_t(n));
        }
    }
    close(fd);
    if (reason != nullptr) {
        error = path + ": " + reason;
        return std::nullopt;
    }
    std::optional<TStationStatus> status = ParseStatusJson(text, error);
    if (!status) {
        error = path + ": " + error;
    }
    return status;
}

namespace {

// A member as text for a person: a string's value, a number's or a literal's text, "?" when
// it is missing or a list or object.
std::string MemberText(const TJson& object, const char* name) {
    const auto value = object.find(name);
    if (value == object.end()) {
        return "?";
    }
    if (value->is_string()) {
        return Printable(value->get<std::string>());
    }
    if (value->is_number()) {
        return value->dump();
    }
    if (value->is_boolean()) {
        return value->get<bool>() ? "yes" : "no";
    }
    return value->is_null() ? "none" : "?";
}

// A number member with `decimals` places ("6.100"), or as MemberText gives it.
std::string DecimalText(const TJson& object, const char* name, int decimals) {
    const auto value = object.find(name);
    if (value == object.end() || !value->is_number()) {
        return MemberText(object, name);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value->get<double>());
    return text;
}

// The section `raw` when it is a readable object.
std::optional<TJson> Section(const std::string& raw) {
    std::string error;
    std::optional<TJson> value = ReadJson(raw, MaxDepth, error);
    return value && value->is_object() ? value : std::nullopt;
}

// The "seedlink" and "datalink" sections of the status, when present and readable.
std::string NetworkText(const TStationStatus& status) {
    std::string out;
    for (const auto& [name, raw] : status.Extra) {
        const std::optional<TJson> section =
            name == "seedlink" || name == "datalink" ? Section(raw) : std::nullopt;
        if (!section) {
            continue;
        }
        const TJson& value = *section;
        if (name == "seedlink") {
            const TJson clients = value.value("clients", TJson::array());
            const size_t count = clients.is_array() ? clients.size() : 0;
            out += "SeedLink:   " +
                   (MemberText(value, "listening") == "yes"
                        ? "listening on " + MemberText(value, "listen")
                        : std::string("not listening")) +
                   ", " + Count(int64_t(count), "client", "clients") + ", ring " +
                   MemberText(value, "ring_packets") + " of " + MemberText(value, "ring_capacity") +
                   " packets (sequence " + MemberText(value, "first_sequence") + " to " +
                   MemberText(value, "last_sequence") + "), " + MemberText(value, "refused") +
                   " refused, " + MemberText(value, "dropped") + " dropped\n";
            for (const TJson& c : count != 0 ? clients : TJson::array()) {
                if (!c.is_object()) {
                    continue;
                }
                out += "  " + MemberText(c, "address") + "  " +
                       (MemberText(c, "streaming") == "yes" ? "streaming " : "in handshake, ") +
                       MemberText(c, "selection") + ", sent up to " +
                       MemberText(c, "last_sequence") + " (" + MemberText(c, "packets_sent") +
                       " packets), queue " + MemberText(c, "queued_bytes") + " of " +
                       MemberText(c, "queue_capacity") + " bytes\n";
            }
        } else {
            out += "DataLink:   " + MemberText(value, "server") + ", " +
                   (MemberText(value, "connected") == "yes" ? "connected" : "not connected") +
                   ", " + MemberText(value, "sent") + " sent, " +
                   MemberText(value, "acknowledged") + " acknowledged, " +
                   MemberText(value, "queued") + " queued, " + MemberText(value, "dropped") +
                   " dropped";
            const std::string error = MemberText(value, "last_error");
            const std::string when = MemberText(value, "last_error_utc");
            out += error.empty() || error == "?"
                       ? "\n"
                       : "; last error: " + error +
                             (when == "?" || when == "none" ? "" : " (" + when + ")") + "\n";
        }
    }
    return out;
}

// The "events" section: the detector's state and counts, then the recent events, oldest first.
std::string EventsText(const TStationStatus& status) {
    std::string out;
    for (const auto& [name, raw] : status.Extra) {
        const std::optional<TJson> section = name == "events" ? Section(raw) : std::nullopt;
        if (!section) {
            continue;
        }
        const TJson& value = *section;
        const std::string state = MemberText(value, "state");
        out += "Events:     " + MemberText(value, "detected") + " detected, " +
               (state == "idle" ? "idle: " + MemberText(value, "idle_reason") : state) + "; file " +
               MemberText(value, "file") + "\n";
        if (value.contains("commands_started")) {
            out += "On event:   " + MemberText(value, "command") + ": " +
                   MemberText(value, "commands_started") + " started, " +
                   MemberText(value, "commands_skipped") + " skipped, " +
                   MemberText(value, "commands_failed") + " failed\n";
        }
        const TJson recent = value.value("recent", TJson::array());
        for (const TJson& e : recent.is_array() ? recent : TJson::array()) {
            if (!e.is_object()) {
                continue;
            }
            const std::string end = MemberText(e, "end");
            out += "  #" + MemberText(e, "id") + "  " + MemberText(e, "start") + "  " +
                   (end == "none" ? std::string("running")
                                  : DecimalText(e, "duration", 3) + " s" +
                                        (MemberText(e, "cut") == "yes" ? " (cut)" : "")) +
                   "  channels " + MemberText(e, "channels") + "  peak STA/LTA " +
                   DecimalText(e, "peak_ratio", 3) + "\n";
        }
    }
    return out;
}

// The "health", "alarms" and "alarm_log" sections: the unit's readings, its clock and GPS, the
// alarms that stand and the on-alarm command's counts.
std::string HealthText(const TStationStatus& status, int64_t now) {
    std::string out;
    for (const auto& [name, raw] : status.Extra) {
        const bool known = name == "health" || name == "alarms" || name == "alarm_log";
        std::string error;
        const std::optional<TJson> parsed =
            known ? ReadJson(raw, MaxDepth, error) : std::optional<TJson>();
        if (!parsed) {
            continue;
        }
        const TJson& value = *parsed;
        if (name == "health" && value.is_object()) {
            std::string modules;
            std::vector<double> temperatures;
            for (const TJson& t : value.value("module_celsius", TJson::array())) {
                if (t.is_number()) {
                    temperatures.push_back(t.get<double>());
                }
            }
            if (!temperatures.empty()) {
                const auto [low, high] =
                    std::minmax_element(temperatures.begin(), temperatures.end());
                char text[96];
                std::snprintf(text, sizeof text, ", modules %.1f to %.1f deg C", *low, *high);
                modules = text;
            }
            out += "Supply:     " + DecimalText(value, "supply_volts", 3) + " V, " +
                   DecimalText(value, "supply_milliamps", 1) + " mA; sensor " +
                   DecimalText(value, "sensor_celsius", 1) + " deg C" + modules + " (block " +
                   MemberText(value, "block_utc") + ")\n";
            const TJson gps = value.value("gps", TJson::object());
            std::string text = "Clock:      " + MemberText(value, "clock_source") + "; GPS " +
                               MemberText(gps, "form");
            if (gps.is_object() && MemberText(gps, "form") != "none") {
                text += MemberText(gps, "fix") == "yes" ? ", fix" : ", no fix";
                if (gps.value("satellites", TJson()).is_number()) {
                    text += ", " + MemberText(gps, "satellites") + " satellites";
                }
                if (gps.value("latitude", TJson()).is_number()) {
                    text += ", at " + DecimalText(gps, "latitude", 6) + " " +
                            DecimalText(gps, "longitude", 6);
                }
                if (gps.value("altitude_m", TJson()).is_number()) {
                    text += ", " + MemberText(gps, "altitude_m") + " m";
                }
                text +=
                    gps.value("last_fix_age_s", TJson()).is_number()
                        ? "; last fix " + MemberText(gps, "last_fix_age_s") + " s before the block"
                        : "; no fix seen";
            }
            out += text + "\n";
        } else if (name == "alarms" && value.is_array()) {
            out += value.empty() ? "Alarms:     none\n" : "Alarms:\n";
            for (const TJson& a : value) {
                if (!a.is_object()) {
                    continue;
                }
                const std::string unit = MemberText(a, "unit");
                const std::string space = unit.empty() || unit == "?" ? "" : " ";
                const TJson since = a.value("since_us", TJson());
                out += "  " + MemberText(a, "name") + ": " + MemberText(a, "value") + space + unit +
                       ", threshold " + MemberText(a, "threshold") + space + unit +
                       (since.is_number_integer() ? ", raised " + AgoText(now, since.get<int64_t>())
                                                  : std::string()) +
                       "\n";
            }
        } else if (name == "alarm_log" && value.is_object()) {
            out += "Alarm log:  " + MemberText(value, "raised") + " raised, " +
                   MemberText(value, "cleared") + " cleared";
            const std::string command = MemberText(value, "command");
            out += command.empty() || command == "?"
                       ? "\n"
                       : "; on alarm: " + command + ": " + MemberText(value, "commands_started") +
                             " started, " + MemberText(value, "commands_failed") + " failed, " +
                             MemberText(value, "commands_waiting") + " waiting\n";
        }
    }
    return out;
}

}  // namespace

std::string FormatStatusForPerson(const TStationStatus& status, int64_t nowMicroseconds) {
    const int64_t now = nowMicroseconds;
    // The service writes "stopped" last when it stops cleanly: then the file's time is when.
    const bool stopped = status.LinkState == StoppedLinkState;
    const bool stale = stopped || Difference(now, status.UpdatedMicroseconds) > StaleAfter;
    std::string out;
    if (stopped) {
        out += "The service stopped at " + PersonUtcText(status.UpdatedMicroseconds) + " (" +
               AgoText(now, status.UpdatedMicroseconds) + ").\n";
    } else if (stale) {
        out += "WARNING: the status was last written " + AgoText(now, status.UpdatedMicroseconds) +
               "; the service may have stopped.\n";
    }
    out += Printable(status.Program) + " " + Printable(status.Version) + ", process " +
           std::to_string(status.Pid) + "\n";
    const int64_t running =
        Difference(stale ? status.UpdatedMicroseconds : now, status.StartedMicroseconds);
    out += (stopped ? "Ran:        " : "Running:    ") +
           (stale && !stopped ? "at least " : std::string()) +
           DurationText(std::max<int64_t>(running, 0)) + ", since " +
           PersonUtcText(status.StartedMicroseconds) + "\n";
    out += "Updated:    " + AgoText(now, status.UpdatedMicroseconds) + " (" +
           PersonUtcText(status.UpdatedMicroseconds) + ")\n";
    out += "Device:     " + Printable(status.Device) +
           (status.LineRate ? ", " + std::to_string(*status.LineRate) + " baud" : "") + ", " +
           Printable(status.LinkState.empty() ? "state unknown" : status.LinkState) + "\n";
    out += "Blocks:     " + Count(status.BlocksReceived, "received", "received") + ", " +
           Count(status.DamagedFrames, "damaged frame", "damaged frames") + ", " +
           Count(status.Gaps, "gap", "gaps") + "\n";
    out += status.Channels.empty() ? "Channels:   none yet\n" : "Channels:\n";
    size_t width = 0;
    for (const TChannelStatus& channel : status.Channels) {
        width = std::max(width, Printable(channel.Code).size());
    }
    for (const TChannelStatus& channel : status.Channels) {
        const std::string code = Printable(channel.Code);
        out += "  " + code + std::string(width - code.size(), ' ') + "  " +
               Count(channel.SamplesRecorded, "sample", "samples") + ", " +
               (channel.LastSampleMicroseconds
                    ? "last " + AgoText(now, *channel.LastSampleMicroseconds)
                    : std::string("none yet")) +
               "\n";
    }
    out += "Archive:    " + Printable(status.Archive) +
           (status.ArchiveFreeBytes ? ", " + BytesText(*status.ArchiveFreeBytes) + " free"
                                    : ", free space unknown") +
           "\n";
    out += "Queue:      " + BytesText(uint64_t(std::max<int64_t>(status.QueuedBytes, 0))) +
           " not yet written, " + Count(status.DroppedSamples, "sample", "samples") + " dropped\n";
    if (status.LastError.empty() && !status.LastErrorMicroseconds) {
        out += "Last error: none\n";
    } else {
        out += "Last error: " + Printable(status.LastError);
        if (status.LastErrorMicroseconds) {
            out += " (" + AgoText(now, *status.LastErrorMicroseconds) + ", " +
                   PersonUtcText(*status.LastErrorMicroseconds) + ")";
        }
        out += "\n";
    }
    out += HealthText(status, now);
    out += NetworkText(status);
    out += EventsText(status);
    return out;
}
