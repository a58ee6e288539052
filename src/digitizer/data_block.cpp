#include "digitizer/data_block.h"

#include <new>

#include "calendar/calendar.h"

std::optional<int64_t> GpsTimeOf(const TGpsInfo& gps) {
    if (gps.Present == 0 || gps.Year < 1 || gps.Year > 9999) {
        return std::nullopt;
    }
    return SecondsOf(gps.Year, gps.Month, gps.Day, gps.Hour, gps.Minute, gps.Second);
}

uint32_t SamplesPerChannel(const TBlockHeader& header, const TSampleSet& samples) {
    const uint32_t frameWidth = uint32_t(header.NumComponents) * header.BytesPerSample;
    if (frameWidth == 0 || samples.DatLength < 0) {
        return 0;
    }
    return uint32_t(samples.DatLength) / frameWidth;
}

// All four parts absent. Out of memory gives nullptr, which ParseFrame rejects.
TDataBlock* NewBlock() {
    return new (std::nothrow) TDataBlock();
}

// The parts are owned pointers, destroyed Sum, Samples, Gps, Header.
void FreeBlock(TDataBlock* block) {
    delete block;
}
