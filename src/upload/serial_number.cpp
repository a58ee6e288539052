#include "upload/serial_number.h"

#include "digitizer/digitizer.h"

std::string SerialNumberText(const uint8_t* bytes, const std::function<std::string()>& ask) {
    std::string text;
    for (int i = 0; i < SerialNumberLength; ++i) {
        if (bytes[i] >= 32 && bytes[i] <= 122) {
            text.push_back(static_cast<char>(bytes[i]));
        }
    }
    if (text.empty() && ask) {
        text = ask();
    }
    return text;
}

std::array<uint8_t, SerialNumberLength> SerialNumberField(const std::string& serial) {
    std::array<uint8_t, SerialNumberLength> field;
    field.fill(' ');
    const size_t n = serial.size() < field.size() ? serial.size() : field.size();
    for (size_t i = 0; i < n; ++i) {
        field[field.size() - n + i] = static_cast<uint8_t>(serial[i]);
    }
    return field;
}

void WriteSerialNumber(TDigitizer& link, const std::string& serial) {
    const auto field = SerialNumberField(serial);
    std::array<uint8_t, SerialNumberLength> inverted;
    for (size_t i = 0; i < field.size(); ++i) {
        inverted[i] = static_cast<uint8_t>(~field[i]);
    }
    link.WriteMemory(InvertedSerialFieldAddress, SerialNumberLength, inverted.data());
    link.WriteMemory(SerialFieldAddress, SerialNumberLength, field.data());
}
