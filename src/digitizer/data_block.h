// One decoded frame of the digitizer's stream and its four parts.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

constexpr int MaxChannels = 6;
constexpr int MaxSamplesPerChannel = 3000;

// Header values of the MOD record and, when present, the MDE record. Texts are
// held with a terminating zero. State-of-health readings are already converted
// to volts, milliamperes and degrees C.
struct TBlockHeader {
    int32_t ModLength = 0;
    int32_t MdeLength = 0;
    char DeviceId[13] = {};
    char Version[7] = {};
    char SerialNumber[9] = {};  // 4 characters from MOD, 8 from MDE
    uint32_t BlockCount = 0;
    uint16_t NumComponents = 0;
    int16_t TotalRate = 0;
    uint16_t BytesPerSample = 0;
    char FilterType[3] = {};
    int16_t Decimation[5] = {};  // filters 3 to 7
    int16_t PhaseError = 0;
    char GainCode[3] = {};
    int32_t GainValue[MaxChannels] = {};
    int32_t OffsetValue[MaxChannels] = {};
    double SupplyVoltage = 0;
    double SupplyCurrent = 0;
    double SensorTemp = 0;
    double RemoteVoltage = 0;
    double UserInput[4] = {};
    double ModuleTemp[MaxChannels] = {};
    char Coupling[3] = {};
    int32_t LastValidGpsBlock = 0;
    int32_t HasMde = 0;
};

// GPS values from the RMC sentence of the MOD record (Source 1) or from the
// receiver reports of the MDE record (Source 2). Zero when not supplied.
struct TGpsInfo {
    char Text[130] = {};
    int32_t Present = 0;
    int16_t Year = 0;
    int16_t Month = 0;
    int16_t Day = 0;
    int16_t Hour = 0;
    int16_t Minute = 0;
    int16_t Second = 0;
    int32_t Source = 0;
    int32_t FixValid = 0;
    int16_t LatDegrees = 0;
    double LatMinutes = 0;
    char LatHemisphere = 0;
    int16_t LonDegrees = 0;
    double LonMinutes = 0;
    char LonHemisphere = 0;
    double Speed = 0;
    double Course = 0;
    double MagVariation = 0;
    char MagVariationDir = 0;
    int32_t TimeOfDay = 0;
    int32_t Altitude = 0;
    char FixSource = 0;
    char FixAge = 0;
    double VerticalVelocity = 0;
    char Status1 = 0;
    char Status2 = 0;
    char Status3 = 0;
    char StatusCode[3] = {};
    char StatusFlag = 0;
    int16_t UtcOffset = 0;
    int16_t SvCount = 0;
    int32_t TimeValid = 0;
};

// UTC seconds since 1970 of the GPS date and time a block carries: nothing when absent, or with
// a year outside 1..9999, a date that does not exist or a time of day out of range.
std::optional<int64_t> GpsTimeOf(const TGpsInfo& gps);

// The samples of one frame, one array per channel present, each sample
// left-justified in a signed 32-bit word (a 24-bit sample x is held as x * 256).
struct TSampleSet {
    int32_t DatLength = 0;
    std::vector<int32_t> Channel[MaxChannels];  // empty for channels not present
};

struct TBlockSum {
    uint32_t SumLength = 0;
    uint16_t Checksum = 0;
};

// A decoded frame. A block that reaches the main thread has all four parts;
// one that failed to decode may lack any of them. Members are destroyed in
// reverse order: Sum, Samples, Gps, Header.
struct TDataBlock {
    std::unique_ptr<TBlockHeader> Header;
    std::unique_ptr<TGpsInfo> Gps;
    std::unique_ptr<TSampleSet> Samples;
    std::unique_ptr<TBlockSum> Sum;
};

// Samples per channel of a decoded block: DatLength / (NumComponents * BytesPerSample),
// 0 when the header declares no channels or no sample width.
uint32_t SamplesPerChannel(const TBlockHeader& header, const TSampleSet& samples);

TDataBlock* NewBlock();
void FreeBlock(TDataBlock* block);
