// The digitizer's serial number: 8 bytes of text at 0x1FF0 and the same bytes with
// every bit inverted at 0x1FE0. An upload reads it first and writes it back last.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

class TDigitizer;

constexpr uint32_t SerialFieldAddress = 0x1FF0;
constexpr uint32_t InvertedSerialFieldAddress = 0x1FE0;
constexpr int SerialNumberLength = 8;

// The text of the 8 bytes read: each byte from 32 to 122 (space to 'z') kept as a
// character, the others dropped. When nothing is left, `ask` is asked for it (the user
// types it; an empty answer means none).
std::string SerialNumberText(const uint8_t* bytes, const std::function<std::string()>& ask);

// The 8-byte field of a serial number: right-aligned with leading spaces, or its first
// 8 characters when it is longer.
std::array<uint8_t, SerialNumberLength> SerialNumberField(const std::string& serial);

// Queues the two memory writes of the serial number area: the inverted field at 0x1FE0,
// then the field at 0x1FF0.
void WriteSerialNumber(TDigitizer& link, const std::string& serial);
