#include "digitizer/data_block.h"

#include <new>

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
