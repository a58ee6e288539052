// libFuzzer target: the receiver on arbitrary byte streams, cut into chunks
// and interleaved with queued commands and the upload modes. The first bytes
// choose the modes and the cuts; the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "digitizer/digitizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint8_t modes = data[0];
    uint32_t cuts = data[1] | 1u;
    data += 2;
    size -= 2;

    TDigitizer link(
        1, 19200,
        [](TDataBlock* block) {
            if (!block->Header || !block->Gps || !block->Samples || !block->Sum) {
                abort();  // only complete blocks may be posted
            }
            FreeBlock(block);
            return true;
        },
        "/dev/kestrel-fuzz-no-device");
    link.SetBootWait(modes & 1);
    if (modes & 2) {
        link.SetCalibration(1);
    }
    if (modes & 4) {
        const uint8_t words[] = {0x12, 0x34, 0x56, 0x78};
        link.WriteMemory(0x100, 4, words);
    }
    if (modes & 8) {
        link.ReadSerialNumber();
        link.SendBH(1);
    }
    size_t at = 0;
    while (at < size) {
        cuts = cuts * 1103515245u + 12345u;
        size_t n = 1 + (cuts >> 16) % (modes & 16 ? 7 : ReadChunkSize);
        if (n > size - at) {
            n = size - at;
        }
        link.Receive(data + at, static_cast<int>(n));
        at += n;
        if (link.RxPos() < 0 || link.RxPos() > RxBufferSize || link.PendingWrites() < 0) {
            abort();
        }
    }
    return 0;
}
