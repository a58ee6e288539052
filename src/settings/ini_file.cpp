#include "settings/ini_file.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool IsQuoted(const std::string& text) {
    return text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
           text.back() == text.front();
}

// The value as Get returns it, from the text after "=".
std::string DecodeValue(const std::string& text) {
    std::string value = TrimBlanks(text);
    if (IsQuoted(value)) {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

// The text after "=" that DecodeValue turns back into `value` (a line feed becomes a space).
std::string EncodeValue(std::string value) {
    for (char& c : value) {
        if (c == '\n') {
            c = ' ';
        }
    }
    if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || IsQuoted(value))) {
        return '"' + value + '"';
    }
    return value;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool TIniFile::Load(const std::string& path) {
    lines_.clear();
    crlf_ = false;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is rejected below.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    struct stat info {};
    std::string text;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && size_t(info.st_size) <= MaxFileSize;
    char buffer[65536];
    while (ok) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(buffer, size_t(n));
        ok = text.size() <= MaxFileSize;  // the file may have grown since fstat
    }
    close(fd);
    if (ok) {
        Parse(text);
    }
    return ok;
}

void TIniFile::Parse(const std::string& text) {
    lines_.clear();
    crlf_ = false;
    bool firstEnd = true;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool hasEnd = end != std::string::npos;
        if (!hasEnd) {
            end = text.size();
        }
        TLine line;
        line.Raw = text.substr(start, end - start);
        if (hasEnd && !line.Raw.empty() && line.Raw.back() == '\r') {
            line.Raw.pop_back();
            crlf_ = crlf_ || firstEnd;
        }
        firstEnd = firstEnd && !hasEnd;
        start = end + 1;

        const std::string trimmed = TrimBlanks(line.Raw);
        if (!trimmed.empty() && trimmed.front() == '[') {
            const size_t close = trimmed.find(']');
            if (close != std::string::npos) {
                line.Kind = TKind::Section;
                line.Name = TrimBlanks(trimmed.substr(1, close - 1));
            }
        } else if (!trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '#') {
            const size_t equals = line.Raw.find('=');
            if (equals != std::string::npos) {
                line.Name = TrimBlanks(line.Raw.substr(0, equals));
                if (!line.Name.empty()) {
                    line.Kind = TKind::Key;
                    line.Value = DecodeValue(line.Raw.substr(equals + 1));
                }
            }
        }
        lines_.push_back(std::move(line));
    }
}

std::string TIniFile::Text() const {
    const char* end = crlf_ ? "\r\n" : "\n";
    std::string text;
    for (const TLine& line : lines_) {
        text += line.Raw;
        text += end;
    }
    return text;
}

bool TIniFile::Save(const std::string& path) const {
    // A new file gets what the umask leaves of 0666, as an editor's file does.
    return ReplaceFileDurably(path, Text(), 0666).Ok();
}

long TIniFile::FindSection(const std::string& section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].Kind == TKind::Section && SameName(lines_[i].Name, section)) {
            return long(i);
        }
    }
    return -1;
}

long TIniFile::FindKey(const std::string& section, const std::string& key) const {
    const long start = FindSection(section);
    if (start < 0) {
        return -1;
    }
    for (size_t i = size_t(start) + 1; i < lines_.size() && lines_[i].Kind != TKind::Section; ++i) {
        if (lines_[i].Kind == TKind::Key && SameName(lines_[i].Name, key)) {
            return long(i);
        }
    }
    return -1;
}

std::optional<std::string> TIniFile::Get(const std::string& section, const std::string& key) const {
    const long i = FindKey(section, key);
    if (i < 0) {
        return std::nullopt;
    }
    return lines_[size_t(i)].Value;
}

void TIniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    TLine line;
    line.Kind = TKind::Key;
    line.Value = DecodeValue(EncodeValue(value));
    const long found = FindKey(section, key);
    if (found >= 0) {
        TLine& old = lines_[size_t(found)];
        if (old.Value != line.Value) {
            old.Raw = old.Name + "=" + EncodeValue(value);
            old.Value = line.Value;
        }
        return;
    }
    line.Name = key;
    line.Raw = key + "=" + EncodeValue(value);
    const long start = FindSection(section);
    if (start < 0) {
        TLine header;
        header.Kind = TKind::Section;
        header.Name = section;
        header.Raw = "[" + section + "]";
        lines_.push_back(std::move(header));
        lines_.push_back(std::move(line));
        return;
    }
    size_t at = size_t(start) + 1;
    for (size_t i = at; i < lines_.size() && lines_[i].Kind != TKind::Section; ++i) {
        if (lines_[i].Kind == TKind::Key) {
            at = i + 1;
        }
    }
    lines_.insert(lines_.begin() + long(at), std::move(line));
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<int32_t> ParseSettingsInteger(const std::string& text) {
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

namespace {

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

}  // namespace

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

int32_t ReadSettingsInteger(const TIniFile& ini, const char* section, const char* key,
                            int32_t current) {
    const std::optional<std::string> text = ini.Get(section, key);
    return (text ? ParseSettingsInteger(*text) : std::nullopt).value_or(current);
}

void WriteSettingsInteger(TIniFile& ini, const char* section, const char* key, int32_t value) {
    ini.Set(section, key, std::to_string(value));
}
