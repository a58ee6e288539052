// Colour settings are 0x00BBGGRR values (red in the low byte), as the settings
// file stores them; the top byte is not part of the colour.
#pragma once

#include <QColor>
#include <cstdint>

// A colour setting as a colour; the top byte is ignored.
inline QColor ColourFromSetting(int32_t colour) {
    const auto value = static_cast<uint32_t>(colour);
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

// A colour as a setting: red, green and blue, the top byte clear (alpha is
// not kept).
inline int32_t SettingFromColour(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return static_cast<int32_t>(static_cast<uint32_t>(rgb.red()) |
                                static_cast<uint32_t>(rgb.green()) << 8 |
                                static_cast<uint32_t>(rgb.blue()) << 16);
}
