#include "settings/numeric_entry.h"

#include "settings/ini_file.h"

bool FilterNumericKey(char32_t key, std::u32string_view currentText, bool allowMinus,
                      bool allowPoint, char32_t point) {
    if (key < 32) {
        return true;
    }
    if (allowMinus && key == U'-') {
        return currentText.empty();
    }
    const bool digit = key >= U'0' && key <= U'9';
    if (allowPoint && key == point) {
        return currentText.find(point) == std::u32string_view::npos;
    }
    return digit;
}

std::optional<double> DcTimeConstFromText(const std::string& text,
                                          const std::string& decimalSeparator) {
    if (text.empty()) {
        return std::nullopt;
    }
    const double value = ParseSettingsDouble(text, decimalSeparator).value_or(0.0);
    if (value < 0 || value > 1) {
        return std::nullopt;
    }
    return value;
}
