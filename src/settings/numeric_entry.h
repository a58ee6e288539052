// The numeric edit fields: which typed characters they take, and what the DC
// time constant field's text means.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Whether `key`, typed into a numeric field that holds `currentText`, goes in.
// Control characters (below 32) always pass. A minus passes, when allowed, only
// into an empty field; a point (`point`, the user's decimal separator), when
// allowed, only while the field holds none; digits pass; nothing else does.
// The caller beeps for a rejected key and swallows it.
bool FilterNumericKey(char32_t key, std::u32string_view currentText, bool allowMinus,
                      bool allowPoint, char32_t point = U'.');

// The DC time constant the field's text asks for, or nullopt when the field
// must show the current value again: an empty text, or a number below 0 or
// above 1. A text that is not a number counts as 0.
std::optional<double> DcTimeConstFromText(const std::string& text,
                                          const std::string& decimalSeparator);
