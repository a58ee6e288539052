#include "settings/ini_values.h"

#include <charconv>

namespace {

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

}  // namespace

std::optional<int32_t> ParseSettingsInteger(const std::string& text) {
    return ParseInteger(text);
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

int32_t ReadSettingsInteger(const TIniFile& ini, const char* section, const char* key,
                            int32_t current) {
    const std::optional<std::string> text = ini.Get(section, key);
    return (text ? ParseInteger(*text) : std::nullopt).value_or(current);
}

std::string ReadSettingsText(const TIniFile& ini, const char* section, const char* key,
                             const std::string& current) {
    return ini.Get(section, key).value_or(current);
}

void WriteSettingsInteger(TIniFile& ini, const char* section, const char* key, int32_t value) {
    ini.Set(section, key, std::to_string(value));
}
