// libFuzzer target: ParseFrame on arbitrary bytes. Besides the sanitizers'
// checks, a frame that decodes must hold what the consumers rely on, and what
// the decoder says about the frame's end must hold for the receiver: the bytes
// after a decoded frame do not matter, and a frame that fails for good fails
// with any bytes after it. The last input byte chooses where the input is cut
// for the second check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

#include "digitizer/frame_parser.h"

namespace {

bool Decodes(const uint8_t* data, size_t size, TFrameExtent* extent = nullptr) {
    TDataBlock* block = NewBlock();
    const bool decoded = ParseFrame(block, data, int32_t(size), extent);
    FreeBlock(block);
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > size_t(std::numeric_limits<int32_t>::max())) {
        return 0;
    }
    TDataBlock* block = NewBlock();
    TFrameExtent extent;
    const bool decoded = ParseFrame(block, data, int32_t(size), &extent);
    if (decoded) {
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
        if (extent.Used <= 0 || size_t(extent.Used) > size || extent.CutShort) {
            abort();
        }
        // Whatever follows the frame, it still decodes.
        std::vector<uint8_t> changed(data, data + size);
        for (size_t i = size_t(extent.Used); i < size; ++i) {
            changed[i] ^= 0xA5;
        }
        if (!Decodes(changed.data(), size)) {
            abort();
        }
    }
    FreeBlock(block);
    if (size > 1) {
        const size_t cut = 1 + data[size - 1] * (size - 2) / 255;
        const std::vector<uint8_t> head(data, data + cut);  // exact size for the sanitizer
        TFrameExtent prefix;
        if (!Decodes(head.data(), cut, &prefix) && !prefix.CutShort && Decodes(data, size)) {
            abort();  // called hopeless, yet more bytes made it decode
        }
    }
    return 0;
}
