// The texts of the Header page's value labels for one block.
//
// Every string is UTF-8. Texts that come from the digitizer (DeviceId, Version, SNum,
// Coupling and the letters in an unknown FilterTypeStr) are bytes without a defined
// character set; each byte is taken as one Latin-1 character and converted to UTF-8
// (DeviceTextToUtf8), so the window converts every string with QString::fromUtf8. The bytes
// as received stay available in TBlockHeader.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "digitizer/data_block.h"
#include "digitizer/stream_format.h"
#include "monitor/number_format.h"

struct THeaderTexts {
    // "Details"
    std::string DeviceId;
    std::string Version;
    std::string SNum;
    std::string NumComps;
    std::string SRate;
    std::string ByteCount;
    std::string BRateStr;
    std::string BlockCount;
    std::string LastValidGPSBlock;  // "N/A" for -1
    // "Filter"
    std::string FilterTypeStr;
    std::array<std::string, 5> Deci;  // labels Deci3 to Deci7; Deci5 to Deci7 empty without MDE
    std::string PhaseError;
    // "Gain" and "Offset"; entries 3 to 5 (labels GainC4..6, OffsetC4..6) empty without MDE
    std::string GainStr;
    std::array<std::string, MaxChannels> GainC;
    std::array<std::string, MaxChannels> OffsetC;
    // "ADC"; ADC8 to ADC13 empty without MDE
    std::string Coupling;
    std::array<std::string, 14> ADC;

    // (objectName of the value label, text) for every label, in the order the page sets them.
    std::vector<std::pair<std::string, std::string>> Labels() const;
};

// The page's texts for a block with `header` whose derived format is `format` (ChannelCount,
// SampleRate, BytesPerSample, BaudRate, FilterCode and GainBits are used). Numbers use the
// "n" conversion with `separators`.
THeaderTexts HeaderTexts(const TBlockHeader& header, const TStreamFormat& format,
                         const TNumberSeparators& separators);

// "1 Hi, 2 Lo, 3 Hi": channel n is "Hi" when bit n-1 of gainBits is set. At least channel 1,
// at most six.
std::string GainSummary(int32_t gainBits, int channelCount);

// The NUL-terminated text at `text` (at most `maxLength` bytes), each byte read as a Latin-1
// character, in UTF-8.
std::string DeviceTextToUtf8(const char* text, size_t maxLength);
