// Values of the settings file as its sections hold them: whole numbers in decimal, numbers
// with the user's decimal separator, and the reading and writing of one key, for the small
// struct each feature keeps of its own section.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "settings/ini_file.h"

// A decimal integer with an optional sign, blanks around allowed, within 32 bits.
std::optional<int32_t> ParseSettingsInteger(const std::string& text);

// The shortest decimal text of `value` that reads back exactly, with `decimalSeparator` in
// place of "." ("0.003", "1", "1e-05").
std::string FormatSettingsDouble(double value, const std::string& decimalSeparator);

// A decimal number with `decimalSeparator` as its point, blanks around allowed, an optional
// sign and exponent ("0,003" with ","); nullopt for any other text.
std::optional<double> ParseSettingsDouble(const std::string& text,
                                          const std::string& decimalSeparator);

// The key's integer, or `current` when the key is missing or not an integer.
int32_t ReadSettingsInteger(const TIniFile& ini, const char* section, const char* key,
                            int32_t current);
// The key's text, or `current` when the key is missing.
std::string ReadSettingsText(const TIniFile& ini, const char* section, const char* key,
                             const std::string& current);
void WriteSettingsInteger(TIniFile& ini, const char* section, const char* key, int32_t value);

// `field` := `value` when `accepted`; otherwise the field keeps what it held.
template <typename T, typename U>
void TakeIfAccepted(T& field, U value, bool accepted) {
    if (accepted) {
        field = static_cast<T>(value);
    }
}
