// Encoding of the digitizer's frames: "MOD" [+ "MDE"] + "DAT" [+ "SUM"], byte for byte as the
// unit sends them. TWireFrame holds the raw wire values; EncodeFrame lays them out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

constexpr int ModRecordSize = 192;
constexpr int MdeRecordSize = 188;
constexpr int SumRecordSize = 12;
constexpr int GpsAreaSize = 72;
constexpr int ReportAreaSize = 130;

// One frame as raw wire fields. Texts are exactly as wide as on the wire (no terminator);
// state-of-health values are the raw signed counts; samples are right-justified integers
// that are packed with BytesPerSample bytes each.
struct TWireFrame {
    // MOD record
    int32_t ModLength = ModRecordSize - 8;
    std::array<char, 12> DeviceId{};
    std::array<char, 6> Version{};
    std::array<char, 4> ShortSerial{};
    uint32_t BlockCount = 0;
    uint16_t NumComponents = 0;
    int16_t TotalRate = 0;
    uint16_t BytesPerSample = 3;
    std::array<char, 2> FilterType{};
    int16_t Decimation[5] = {1, 1, 1, 1, 1};  // filter stages 3 to 7
    int16_t PhaseError = 0;
    std::array<char, 2> GainCode{};  // may hold a binary mask byte
    int32_t GainValue[6] = {};
    int32_t OffsetValue[6] = {};
    int16_t SupplyVoltage = 0;
    int16_t SupplyCurrent = 0;
    int16_t SensorTemp = 0;
    int16_t RemoteVoltage = 0;
    int16_t UserInput[4] = {};
    std::array<char, 2> Coupling{};
    int32_t LastValidGpsBlock = -1;
    std::array<char, GpsAreaSize> GpsArea{};

    // MDE record
    bool HasMde = false;
    int32_t MdeLength = MdeRecordSize - 8;
    std::array<char, 8> LongSerial{};
    int16_t ModuleTemp[6] = {};
    std::array<char, ReportAreaSize> ReportArea{};

    // DAT record: one vector per channel; channels below NumComponents (at most six) are
    // interleaved, a shorter vector is padded with zeros. DatLength defaults to the payload size.
    std::vector<int32_t> Samples[6];
    std::optional<int32_t> DatLength;

    // SUM record
    bool HasSum = true;
    int32_t SumLength = SumRecordSize - 8;

    TWireFrame();
};

// Copies `text` into a fixed-width field, padding with blanks and cutting what does not fit.
template <size_t N>
void SetText(std::array<char, N>& field, std::string_view text) {
    for (size_t i = 0; i < N; ++i) {
        field[i] = i < text.size() ? text[i] : ' ';
    }
}

// The frame's bytes from the "M" of "MOD" to the end of its last record.
std::vector<uint8_t> EncodeFrame(const TWireFrame& frame);

// The SUM record's checksum: the byte sum, modulo 65536, of `count` bytes.
uint16_t ByteSum(const uint8_t* data, size_t count);

// Recomputes the checksum of an encoded frame that ends with its SUM record (after sample
// bytes were changed in place). Returns false when the frame has no SUM record at its end.
bool RefreshChecksum(std::vector<uint8_t>& frame);

// Overwrites sample bytes in the middle of the DAT payload with `bytes`, changing the samples
// they fall in, so that the frame stays valid. False when the payload is too short.
bool PlantInSamples(TWireFrame& frame, std::string_view bytes);

// One sample as `bytes` (1 to 4) bytes little-endian two's complement (the low bytes of value),
// and back, sign-extended to a right-justified integer.
void PackSample(uint8_t* out, int32_t value, int bytes);
int32_t UnpackSample(const uint8_t* in, int bytes);
