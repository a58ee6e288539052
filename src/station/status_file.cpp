#include "station/status_file.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <set>

namespace {

constexpr int MaxDepth = 64;
constexpr int64_t Second = 1000000;
constexpr int64_t StaleAfter = 30 * Second;

// --- UTF-8 and JSON strings ---

// The length of the valid UTF-8 sequence at `i`, 0 when the bytes there are not one.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return length;
}

constexpr char ReplacementCharacter[] = "\xEF\xBF\xBD";

// `text` with every byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += ReplacementCharacter;
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

void AppendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : ValidUtf8(text)) {
        const char* escape = c == '"'    ? "\\\""
                             : c == '\\' ? "\\\\"
                             : c == '\b' ? "\\b"
                             : c == '\f' ? "\\f"
                             : c == '\n' ? "\\n"
                             : c == '\r' ? "\\r"
                             : c == '\t' ? "\\t"
                                         : nullptr;
        if (escape != nullptr) {
            out += escape;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// --- A small JSON reader ---

struct TJsonMember;

struct TJsonValue {
    enum class TKind { Null, Bool, Number, String, Array, Object } Kind = TKind::Null;
    bool Bool = false;
    std::string Text;  // a number's text as written, or a string's value
    std::vector<TJsonValue> Items;
    std::vector<TJsonMember> Members;
};

struct TJsonMember {
    std::string Name;
    TJsonValue Value;
};

class TJsonReader {
  public:
    explicit TJsonReader(const std::string& text) : s_(text) {}

    // One value filling the whole text, nested at most MaxDepth - startDepth deep.
    bool Read(TJsonValue& value, int startDepth, std::string& error) {
        Blanks();
        bool ok = Value(value, startDepth);
        if (ok) {
            Blanks();
        }
        if (ok && i_ < s_.size()) {
            ok = Fail("text after the end of the value");
        }
        if (!ok) {
            error = Where() + error_;
        }
        return ok;
    }

  private:
    bool Fail(const char* reason) {
        if (error_.empty()) {
            error_ = reason;
        }
        return false;
    }
    std::string Where() const {
        size_t line = 1, column = 1;
        for (size_t k = 0; k < std::min(i_, s_.size()); ++k) {
            column = s_[k] == '\n' ? 1 : column + 1;
            line += s_[k] == '\n' ? 1 : 0;
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
    }
    bool At(char c) const { return i_ < s_.size() && s_[i_] == c; }
    bool IsDigit() const { return i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9'; }
    void Blanks() {
        while (At(' ') || At('\t') || At('\n') || At('\r')) {
            ++i_;
        }
    }
    bool Literal(const char* word) {
        const size_t length = std::strlen(word);
        if (s_.compare(i_, length, word) != 0) {
            return Fail("not a JSON value");
        }
        i_ += length;
        return true;
    }

    bool Value(TJsonValue& value, int depth) {
        if (i_ >= s_.size()) {
            return Fail("the text ends where a value should be");
        }
        switch (s_[i_]) {
            case '{':
                return Object(value, depth + 1);
            case '[':
                return Array(value, depth + 1);
            case '"':
                value.Kind = TJsonValue::TKind::String;
                return String(value.Text);
            case 't':
                value.Kind = TJsonValue::TKind::Bool;
                value.Bool = true;
                return Literal("true");
            case 'f':
                value.Kind = TJsonValue::TKind::Bool;
                return Literal("false");
            case 'n':
                return Literal("null");
            default:
                value.Kind = TJsonValue::TKind::Number;
                return Number(value.Text);
        }
    }

    // The members of an object or the items of an array: `one` reads each, separated by
    // commas, up to `close`.
    template <typename TOne>
    bool List(char close, const char* expected, TOne&& one) {
        ++i_;
        Blanks();
        for (bool first = true;; first = false) {
            if (first && At(close)) {
                ++i_;
                return true;
            }
            if (!one()) {
                return false;
            }
            Blanks();
            if (At(close)) {
                ++i_;
                return true;
            }
            if (!At(',')) {
                return Fail(expected);
            }
            ++i_;
            Blanks();
        }
    }

    bool Object(TJsonValue& value, int depth) {
        if (depth > MaxDepth) {
            return Fail("nested too deep");
        }
        value.Kind = TJsonValue::TKind::Object;
        return List('}', "expected ',' or '}'", [&] {
            TJsonMember member;
            if (!At('"')) {
                return Fail("expected a member name in quotes");
            }
            if (!String(member.Name)) {
                return false;
            }
            Blanks();
            if (!At(':')) {
                return Fail("expected ':'");
            }
            ++i_;
            Blanks();
            if (!Value(member.Value, depth)) {
                return false;
            }
            value.Members.push_back(std::move(member));
            return true;
        });
    }

    bool Array(TJsonValue& value, int depth) {
        if (depth > MaxDepth) {
            return Fail("nested too deep");
        }
        value.Kind = TJsonValue::TKind::Array;
        return List(']', "expected ',' or ']'", [&] {
            value.Items.emplace_back();
            return Value(value.Items.back(), depth);
        });
    }

    bool Number(std::string& text) {
        const size_t start = i_;
        if (At('-')) {
            ++i_;
        }
        if (At('0')) {
            ++i_;
        } else if (IsDigit()) {
            while (IsDigit()) {
                ++i_;
            }
        } else {
            return Fail("not a JSON value");
        }
        if (At('.')) {
            ++i_;
            if (!IsDigit()) {
                return Fail("expected a digit after '.'");
            }
            while (IsDigit()) {
                ++i_;
            }
        }
        if (At('e') || At('E')) {
            ++i_;
            if (At('+') || At('-')) {
                ++i_;
            }
            if (!IsDigit()) {
                return Fail("expected a digit in the exponent");
            }
            while (IsDigit()) {
                ++i_;
            }
        }
        text = s_.substr(start, i_ - start);
        return true;
    }

    // Four hexadecimal digits after "\u".
    bool Hex4(uint32_t& code) {
        code = 0;
        for (int k = 0; k < 4; ++k, ++i_) {
            const char c = i_ < s_.size() ? s_[i_] : '\0';
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                return Fail("expected four hexadecimal digits after \\u");
            }
            code = code * 16 + uint32_t(digit);
        }
        return true;
    }

    // A string's value, its bytes made valid UTF-8; lone surrogates become U+FFFD.
    bool String(std::string& out) {
        ++i_;
        std::string raw;
        while (true) {
            if (i_ >= s_.size()) {
                return Fail("the text ends inside a string");
            }
            if (static_cast<unsigned char>(s_[i_]) < 0x20) {
                return Fail("a control character inside a string");
            }
            const char c = s_[i_++];
            if (c == '"') {
                break;
            }
            if (c != '\\') {
                raw += c;
                continue;
            }
            const char escape = i_ < s_.size() ? s_[i_++] : '\0';
            const char* plain = std::strchr("\"\\/bfnrt", escape);
            if (escape != '\0' && escape != 'u' && plain != nullptr) {
                raw += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
                continue;
            }
            if (escape != 'u') {
                --i_;
                return Fail("an unknown escape in a string");
            }
            uint32_t code = 0;
            if (!Hex4(code)) {
                return false;
            }
            if (code >= 0xD800 && code <= 0xDBFF && s_.compare(i_, 2, "\\u") == 0) {
                const size_t second = i_;
                uint32_t low = 0;
                i_ += 2;
                if (!Hex4(low)) {
                    return false;
                }
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else {
                    i_ = second;  // read again on its own
                }
            }
            if (code >= 0xD800 && code <= 0xDFFF) {
                raw += ReplacementCharacter;
            } else {
                AppendUtf8(raw, code);
            }
        }
        out = ValidUtf8(raw);
        return true;
    }

    const std::string& s_;
    size_t i_ = 0;
    std::string error_;
};

void AppendCompact(std::string& out, const TJsonValue& value) {
    switch (value.Kind) {
        case TJsonValue::TKind::Null:
            out += "null";
            break;
        case TJsonValue::TKind::Bool:
            out += value.Bool ? "true" : "false";
            break;
        case TJsonValue::TKind::Number:
            out += value.Text;
            break;
        case TJsonValue::TKind::String:
            AppendJsonString(out, value.Text);
            break;
        case TJsonValue::TKind::Array:
            out += '[';
            for (size_t k = 0; k < value.Items.size(); ++k) {
                out += k == 0 ? "" : ",";
                AppendCompact(out, value.Items[k]);
            }
            out += ']';
            break;
        case TJsonValue::TKind::Object:
            out += '{';
            for (size_t k = 0; k < value.Members.size(); ++k) {
                out += k == 0 ? "" : ",";
                AppendJsonString(out, value.Members[k].Name);
                out += ':';
                AppendCompact(out, value.Members[k].Value);
            }
            out += '}';
            break;
    }
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
    "channels", "archive", "archive_free_bytes", "queued_bytes", "dropped_samples",
    "last_error", "last_error_us", "last_error_utc"};
// clang-format on

bool IsFixedMember(const std::string& name) {
    return std::find(std::begin(FixedMembers), std::end(FixedMembers), name) !=
           std::end(FixedMembers);
}

class TObjectWriter {
  public:
    // `indent` goes before every member, `separator` after each comma.
    TObjectWriter(std::string& out, const char* indent, const char* separator)
        : out_(out), indent_(indent), separator_(separator) {}
    void Name(const std::string& name) {
        out_ += first_ ? "" : ",";
        out_ += first_ ? "" : separator_;
        out_ += indent_;
        first_ = false;
        AppendJsonString(out_, name);
        out_ += ": ";
    }
    void String(const char* name, const std::string& value) {
        Name(name);
        AppendJsonString(out_, value);
    }
    template <typename T>
    void Number(const char* name, T value) {
        Name(name);
        out_ += std::to_string(value);
    }
    template <typename T>
    void Optional(const char* name, const std::optional<T>& value) {
        Name(name);
        out_ += value ? std::to_string(*value) : "null";
    }
    // A time as microseconds and as text: name_us and name_utc.
    void Time(const std::string& name, std::optional<int64_t> value) {
        Name(name + "_us");
        out_ += value ? std::to_string(*value) : "null";
        Name(name + "_utc");
        if (value) {
            AppendJsonString(out_, IsoUtcText(*value));
        } else {
            out_ += "null";
        }
    }

  private:
    std::string& out_;
    const char* indent_;
    const char* separator_;
    bool first_ = true;
};

// --- Reading the members back ---

using TKind = TJsonValue::TKind;

bool Whole(const TJsonValue& value, int64_t min, int64_t max, int64_t& out) {
    const char* begin = value.Text.data();
    const char* end = begin + value.Text.size();
    int64_t number = 0;
    const auto [last, error] = std::from_chars(begin, end, number);
    if (value.Kind != TKind::Number || error != std::errc() || last != end || number < min ||
        number > max) {
        return false;
    }
    out = number;
    return true;
}

bool WholeUnsigned(const TJsonValue& value, uint64_t& out) {
    const char* begin = value.Text.data();
    const char* end = begin + value.Text.size();
    const auto [last, error] = std::from_chars(begin, end, out);
    return value.Kind == TKind::Number && error == std::errc() && last == end;
}

// The members of an object by name; false when a name comes twice.
bool MembersByName(const TJsonValue& object, std::map<std::string, const TJsonValue*>& members,
                   std::string& error) {
    for (const auto& [name, value] : object.Members) {
        if (!members.emplace(name, &value).second) {
            error = "'" + name + "' is given twice";
            return false;
        }
    }
    return true;
}

// Reads the members it is given handlers for; each handler returns the reason for a refusal.
class TMemberReader {
  public:
    static constexpr int64_t Min = std::numeric_limits<int64_t>::min();
    static constexpr int64_t Max = std::numeric_limits<int64_t>::max();
    using THandler = std::function<const char*(const TJsonValue&)>;

    void On(const char* name, THandler handler) { handlers_.emplace(name, std::move(handler)); }
    void Int(const char* name, int64_t& field) {
        On(name, [&field](const TJsonValue& v) {
            return Whole(v, Min, Max, field) ? nullptr : "not a whole number";
        });
    }
    void String(const char* name, std::string& field) {
        On(name, [&field](const TJsonValue& v) {
            field = v.Text;
            return v.Kind == TKind::String ? nullptr : "not a string";
        });
    }
    void OptionalInt(const char* name, std::optional<int64_t>& field) {
        On(name, [&field](const TJsonValue& v) -> const char* {
            int64_t number = 0;
            if (v.Kind == TKind::Null) {
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
        On(name, [](const TJsonValue&) { return nullptr; });
    }

    // Applies the handlers to `object`; members without a handler go to `others`.
    bool Read(const TJsonValue& object, const char* what, std::string& error,
              std::vector<std::pair<std::string, std::string>>* others) {
        if (object.Kind != TKind::Object) {
            error = std::string(what) + " is not an object";
            return false;
        }
        std::map<std::string, const TJsonValue*> members;
        if (!MembersByName(object, members, error)) {
            return false;
        }
        for (const auto& [name, value] : object.Members) {
            seen_.insert(name);
            const auto handler = handlers_.find(name);
            if (handler == handlers_.end()) {
                if (others != nullptr) {
                    std::string compact;
                    AppendCompact(compact, value);
                    others->emplace_back(name, std::move(compact));
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
    std::string out = "{";
    TObjectWriter top(out, "\n  ", "");
    top.String("program", status.Program);
    top.String("version", status.Version);
    top.Number("pid", status.Pid);
    top.Time("started", status.StartedMicroseconds);
    top.Time("updated", status.UpdatedMicroseconds);
    top.String("device", status.Device);
    top.Optional("line_rate", status.LineRate);
    top.String("link_state", status.LinkState);
    top.Number("blocks_received", status.BlocksReceived);
    top.Number("damaged_frames", status.DamagedFrames);
    top.Number("gaps", status.Gaps);
    top.Number("power_cycles", status.PowerCycles);
    top.Number("format_changes", status.FormatChanges);
    top.Name("channels");
    out += "[";
    for (size_t k = 0; k < status.Channels.size(); ++k) {
        const TChannelStatus& channel = status.Channels[k];
        out += k == 0 ? "\n    {" : ",\n    {";
        TObjectWriter item(out, "", " ");
        item.String("code", channel.Code);
        item.Number("samples_recorded", channel.SamplesRecorded);
        item.Time("last_sample", channel.LastSampleMicroseconds);
        out += "}";
    }
    out += status.Channels.empty() ? "]" : "\n  ]";
    top.String("archive", status.Archive);
    top.Optional("archive_free_bytes", status.ArchiveFreeBytes);
    top.Number("queued_bytes", status.QueuedBytes);
    top.Number("dropped_samples", status.DroppedSamples);
    top.String("last_error", status.LastError);
    top.Time("last_error", status.LastErrorMicroseconds);
    std::set<std::string> written;
    for (const auto& [name, raw] : status.Extra) {
        if (IsFixedMember(name) || !written.insert(name).second) {
            continue;
        }
        TJsonValue value;
        std::string error;
        if (!TJsonReader(raw).Read(value, 1, error)) {
            value = TJsonValue();
        }
        top.Name(name);
        AppendCompact(out, value);
    }
    out += "\n}\n";
    return out;
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
    TJsonValue root;
    if (!TJsonReader(text).Read(root, 0, error)) {
        return std::nullopt;
    }
    TStationStatus status;
    TMemberReader top;
    top.String("program", status.Program);
    top.String("version", status.Version);
    top.On("pid", [&](const TJsonValue& v) -> const char* {
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
    top.On("line_rate", [&](const TJsonValue& v) -> const char* {
        int64_t rate = 0;
        if (v.Kind == TKind::Null) {
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
    top.On("channels", [&](const TJsonValue& v) -> const char* {
        if (v.Kind != TKind::Array) {
            return "not a list";
        }
        for (const TJsonValue& item : v.Items) {
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
    top.On("archive_free_bytes", [&](const TJsonValue& v) -> const char* {
        uint64_t bytes = 0;
        if (v.Kind == TKind::Null) {
            status.ArchiveFreeBytes.reset();
        } else if (WholeUnsigned(v, bytes)) {
            status.ArchiveFreeBytes = bytes;
        } else {
            return "not a number of bytes or null";
        }
        return nullptr;
    });
    top.Int("queued_bytes", status.QueuedBytes);
    top.Int("dropped_samples", status.DroppedSamples);
    top.String("last_error", status.LastError);
    top.OptionalInt("last_error_us", status.LastErrorMicroseconds);
    for (const char* name : {"started_utc", "updated_utc", "last_error_utc"}) {
        top.Ignore(name);
    }
    if (!top.Read(root, "the status", error, &status.Extra)) {
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

std::string JsonString(const std::string& text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

namespace {

const TJsonValue* Member(const TJsonValue& object, const char* name) {
    for (const TJsonMember& member : object.Members) {
        if (member.Name == name) {
            return &member.Value;
        }
    }
    return nullptr;
}

// A member as text for a person: a string's value, a number's or a literal's text, "?" when
// it is missing or a list or object.
std::string MemberText(const TJsonValue& object, const char* name) {
    const TJsonValue* value = Member(object, name);
    if (value == nullptr) {
        return "?";
    }
    switch (value->Kind) {
        case TJsonValue::TKind::String:
        case TJsonValue::TKind::Number:
            return Printable(value->Text);
        case TJsonValue::TKind::Bool:
            return value->Bool ? "yes" : "no";
        case TJsonValue::TKind::Null:
            return "none";
        default:
            return "?";
    }
}

// The "seedlink" and "datalink" sections of the status, when present and readable.
std::string NetworkText(const TStationStatus& status) {
    std::string out;
    for (const auto& [name, raw] : status.Extra) {
        TJsonValue value;
        std::string error;
        if ((name != "seedlink" && name != "datalink") || !TJsonReader(raw).Read(value, 1, error) ||
            value.Kind != TJsonValue::TKind::Object) {
            continue;
        }
        if (name == "seedlink") {
            const TJsonValue* clients = Member(value, "clients");
            const size_t count = clients != nullptr ? clients->Items.size() : 0;
            out += "SeedLink:   " +
                   (MemberText(value, "listening") == "yes"
                        ? "listening on " + MemberText(value, "listen")
                        : std::string("not listening")) +
                   ", " + Count(int64_t(count), "client", "clients") + ", ring " +
                   MemberText(value, "ring_packets") + " of " + MemberText(value, "ring_capacity") +
                   " packets (sequence " + MemberText(value, "first_sequence") + " to " +
                   MemberText(value, "last_sequence") + "), " + MemberText(value, "refused") +
                   " refused, " + MemberText(value, "dropped") + " dropped\n";
            for (size_t k = 0; clients != nullptr && k < clients->Items.size(); ++k) {
                const TJsonValue& c = clients->Items[k];
                if (c.Kind != TJsonValue::TKind::Object) {
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
            out += error.empty() || error == "?" ? "\n" : "; last error: " + error + "\n";
        }
    }
    return out;
}

// The "events" section: the detector's state and counts, then the recent events, oldest first.
std::string EventsText(const TStationStatus& status) {
    std::string out;
    for (const auto& [name, raw] : status.Extra) {
        TJsonValue value;
        std::string error;
        if (name != "events" || !TJsonReader(raw).Read(value, 1, error) ||
            value.Kind != TJsonValue::TKind::Object) {
            continue;
        }
        const std::string state = MemberText(value, "state");
        out += "Events:     " + MemberText(value, "detected") + " detected, " +
               (state == "idle" ? "idle: " + MemberText(value, "idle_reason") : state) + "; file " +
               MemberText(value, "file") + "\n";
        if (Member(value, "commands_started") != nullptr) {
            out += "On event:   " + MemberText(value, "command") + ": " +
                   MemberText(value, "commands_started") + " started, " +
                   MemberText(value, "commands_skipped") + " skipped, " +
                   MemberText(value, "commands_failed") + " failed\n";
        }
        const TJsonValue* recent = Member(value, "recent");
        for (size_t k = 0; recent != nullptr && k < recent->Items.size(); ++k) {
            const TJsonValue& e = recent->Items[k];
            if (e.Kind != TJsonValue::TKind::Object) {
                continue;
            }
            const std::string end = MemberText(e, "end");
            out += "  #" + MemberText(e, "id") + "  " + MemberText(e, "start") + "  " +
                   (end == "none" ? std::string("running")
                                  : MemberText(e, "duration") + " s" +
                                        (MemberText(e, "cut") == "yes" ? " (cut)" : "")) +
                   "  channels " + MemberText(e, "channels") + "  peak STA/LTA " +
                   MemberText(e, "peak_ratio") + "\n";
        }
    }
    return out;
}

}  // namespace

std::string FormatStatusForPerson(const TStationStatus& status, int64_t nowMicroseconds) {
    const int64_t now = nowMicroseconds;
    const bool stale = Difference(now, status.UpdatedMicroseconds) > StaleAfter;
    std::string out;
    if (stale) {
        out += "WARNING: the status was last written " + AgoText(now, status.UpdatedMicroseconds) +
               "; the service may have stopped.\n";
    }
    out += Printable(status.Program) + " " + Printable(status.Version) + ", process " +
           std::to_string(status.Pid) + "\n";
    const int64_t running =
        Difference(stale ? status.UpdatedMicroseconds : now, status.StartedMicroseconds);
    out += "Running:    " + (stale ? "at least " : std::string()) +
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
    out += NetworkText(status);
    out += EventsText(status);
    return out;
}
