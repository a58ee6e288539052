#include "digitizer/stream_format.h"

#include <cstring>

TStreamFormat StreamFormatOf(const TBlockHeader& header, int32_t baudRate) {
    TStreamFormat format;
    format.ChannelCount = header.NumComponents;
    format.SampleRate = SampleRateFromTotal(header.TotalRate, format.ChannelCount);
    format.BytesPerSample = header.BytesPerSample;
    format.GainBits = GainBitsFromCode(header.GainCode, format.ChannelCount);
    format.FilterCode = FilterCodeFrom(header.FilterType, header.DeviceId);
    format.BaudRate = baudRate;
    return format;
}

double SampleRateFromTotal(int16_t totalRate, int channels) {
    if (totalRate == 0 || channels == 0) {
        return 0;
    }
    if (totalRate > 0) {
        return double(totalRate) / channels;
    }
    return -1.0 / (double(totalRate) * channels);
}

uint32_t SamplesPerBlock(int32_t datLength, uint32_t bytesPerSample, uint32_t channels) {
    const uint64_t divisor = uint64_t(bytesPerSample) * channels;
    if (divisor == 0) {
        return 0;
    }
    return uint32_t(uint32_t(datLength) / divisor);
}

int32_t GainBitsFromCode(const char* gainCode, int channelCount) {
    if (gainCode == nullptr) {
        return 7;
    }
    if (gainCode[0] == 'G') {
        if (channelCount < 4) {
            // The decimal number after the "G": with one character left, a digit or nothing.
            const char c = gainCode[1];
            return c >= '0' && c <= '9' ? c - '0' : 0;
        }
        return int8_t(gainCode[1]);
    }
    if (gainCode[0] == 'L') {
        return 0;
    }
    return 7;
}

int32_t GainFactorOf(int32_t gainBits, int channelIndex) {
    if (channelIndex < 0 || channelIndex > 31) {
        return 1;
    }
    return (uint32_t(gainBits) >> channelIndex) & 1u ? 10 : 1;
}

int32_t FilterCodeFrom(const char* filterType, const char* deviceId) {
    if (filterType == nullptr) {
        return -1;
    }
    const bool above = std::strncmp(deviceId ? deviceId : "", "QF 5150-310", 11) > 0;
    const char* minimal = above ? "MP" : "LP";
    const char* linear = above ? "LP" : "MP";
    if (std::strcmp(filterType, minimal) == 0) {
        return 0;
    }
    if (std::strcmp(filterType, linear) == 0) {
        return 1;
    }
    return -1;
}
