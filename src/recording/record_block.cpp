#include "recording/record_block.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

int32_t Round(double value, double scale) {
    const double scaled = std::round(value * scale);
    if (!(scaled > -2e9 && scaled < 2e9)) {
        return 0;
    }
    return static_cast<int32_t>(scaled);
}

}  // namespace

bool TRecordBlock::HasSamples() const {
    for (int c = 0; c < ChannelCount && c < MaxChannels; ++c) {
        if (!Samples[static_cast<size_t>(c)].empty()) {
            return true;
        }
    }
    return false;
}

size_t TRecordBlock::Bytes() const {
    size_t bytes = sizeof(TRecordBlock) + SerialNumber.capacity();
    for (const auto& channel : Samples) {
        bytes += channel.capacity() * sizeof(int32_t);
    }
    return bytes;
}

TRecordBlock MakeRecordBlock(const TDataBlock& block, int64_t time, bool clockLocked,
                             int channelCount, double sampleRate, int bytesPerSample,
                             int samplesPerBlock) {
    TRecordBlock r;
    r.Time = time;
    r.ClockLocked = clockLocked;
    r.ChannelCount = std::clamp(channelCount, 0, MaxChannels);
    r.SampleRate = sampleRate;
    r.BytesPerSample = bytesPerSample;
    r.SamplesPerBlock = samplesPerBlock;
    if (block.Header) {
        const TBlockHeader& h = *block.Header;
        r.SerialNumber.assign(h.SerialNumber, strnlen(h.SerialNumber, sizeof h.SerialNumber));
        r.Soh.SupplyMillivolts = Round(h.SupplyVoltage, 1000);
        r.Soh.SupplyMilliamperes = Round(h.SupplyCurrent, 1);
        r.Soh.SensorDeciCelsius = Round(h.SensorTemp, 10);
        r.Soh.HasModuleTemperatures = h.HasMde != 0;
        for (int c = 0; c < MaxChannels; ++c) {
            r.Soh.ModuleDeciCelsius[static_cast<size_t>(c)] = Round(h.ModuleTemp[c], 10);
        }
    }
    if (block.Gps) {
        r.Soh.Satellites = block.Gps->SvCount;
        r.Soh.GpsFix = block.Gps->Present != 0 && block.Gps->FixValid != 0 ? 1 : 0;
        if (block.Header && block.Header->LastValidGpsBlock != -1) {
            // Taken as 32-bit unsigned, as the unit counts.
            const uint32_t age =
                block.Header->BlockCount - static_cast<uint32_t>(block.Header->LastValidGpsBlock);
            r.Soh.GpsFixAge = static_cast<int32_t>(std::min<uint32_t>(age, INT32_MAX));
        }
    }
    if (block.Samples && block.Samples->DatLength != 0 && samplesPerBlock > 0) {
        for (int c = 0; c < r.ChannelCount; ++c) {
            const std::vector<int32_t>& from = block.Samples->Channel[c];
            const size_t n = std::min(from.size(), static_cast<size_t>(samplesPerBlock));
            r.Samples[static_cast<size_t>(c)].assign(from.begin(), from.begin() + n);
        }
    }
    return r;
}

int TimingQuality(bool locked, int32_t satellites, int32_t fixAge) {
    if (fixAge < 0) {
        return 0;
    }
    if (locked && fixAge <= 1) {
        return satellites == 0 || satellites >= 4 ? 100 : satellites == 3 ? 90 : 80;
    }
    return std::max(10, 90 - fixAge / 60);
}

int TimingQualityOf(const TRecordBlock& block) {
    return TimingQuality(block.ClockLocked && block.Soh.GpsFix != 0, block.Soh.Satellites,
                         block.Soh.GpsFixAge);
}
