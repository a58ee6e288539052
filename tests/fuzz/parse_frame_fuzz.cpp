// libFuzzer target: ParseFrame on arbitrary bytes. Besides the sanitizers'
// checks, a frame that decodes must hold what the consumers rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "digitizer/frame_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > size_t(std::numeric_limits<int32_t>::max())) {
        return 0;
    }
    TDataBlock* block = NewBlock();
    if (ParseFrame(block, data, int32_t(size))) {
        const TBlockHeader& header = *block->Header;
        const TSampleSet& samples = *block->Samples;
        if (!block->Gps || !block->Sum || header.NumComponents < 1 ||
            header.NumComponents > MaxChannels || header.BytesPerSample < 1 ||
            header.BytesPerSample > 4) {
            abort();
        }
        const uint32_t n = SamplesPerChannel(header, samples);
        for (int k = 0; k < MaxChannels; ++k) {
            if (samples.Channel[k].size() != (k < header.NumComponents ? n : 0)) {
                abort();
            }
        }
    }
    FreeBlock(block);
    return 0;
}
