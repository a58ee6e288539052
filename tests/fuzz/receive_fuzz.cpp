// libFuzzer target: the receiver on arbitrary byte streams, cut into chunks
// and interleaved with queued commands and the upload modes. The first byte
// chooses the modes, the second seeds the cuts; the rest is the stream. With
// mode bit 32 the cut sequence also acts between chunks, as the upload does
// while frames may still arrive: it switches the boot wait, queues a memory
// read (ended by "$BH") or a memory write, gives the head command a send, or
// removes it unechoed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "digitizer/receiver.h"

namespace {

const std::vector<uint8_t> SerialNumberRead = {'$', 'U', 'R', 0, 0, 0x0F, 0xF8, 0, 4};
const std::vector<uint8_t> Bh = {'$', 'B', 'H'};
const std::vector<uint8_t> Calibration = {'$', 'C', 'A', 0, 1};
const std::vector<uint8_t> MemoryWrite = {'$', 'D', 'R',  0,    0,    0,   0x80,
                                          0,   2,   0x12, 0x34, 0x56, 0x78};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint8_t modes = data[0];
    uint32_t cuts = data[1] | 1u;
    data += 2;
    size -= 2;

    TCommandQueue queue;
    TReceiver rx(queue, [](TDataBlock* block) {
        if (!block->Header || !block->Gps || !block->Samples || !block->Sum) {
            abort();  // only complete blocks may be posted
        }
        FreeBlock(block);
        return true;
    });
    const auto readMemory = [&queue] {
        queue.EnqueueMemoryRead(SerialNumberRead, -1);
        queue.Enqueue(Bh, 1);
    };
    rx.SetBootWait(modes & 1);
    if (modes & 2) {
        queue.Enqueue(Calibration, 3);
    }
    if (modes & 4) {
        queue.EnqueueMemoryWrite(MemoryWrite, -1);
    }
    if (modes & 8) {
        readMemory();
    }
    size_t at = 0;
    while (at < size) {
        cuts = cuts * 1103515245u + 12345u;
        size_t n = 1 + (cuts >> 16) % (modes & 16 ? 7 : 2048);
        if (n > size - at) {
            n = size - at;
        }
        rx.Receive(data + at, static_cast<int>(n));
        at += n;
        if (modes & 32) {
            std::vector<uint8_t> sent;
            switch ((cuts >> 8) & 15) {
                case 0:
                    rx.SetBootWait(!rx.BootWait());
                    break;
                case 1:
                    readMemory();
                    break;
                case 2:
                    queue.EnqueueMemoryWrite(MemoryWrite, -1);
                    break;
                case 3:
                    if (queue.TakeForSending(sent) == TCommandQueue::TSend::Expired) {
                        rx.Pop();
                    }
                    break;
                case 4:
                    rx.Pop();
                    break;
                default:
                    break;
            }
        }
        if (rx.RxPos() < 0 || rx.RxPos() > RxBufferSize || queue.PendingWrites() < 0 ||
            queue.ReadBackMode() < 0 || queue.ReadBackMode() > 2) {
            abort();
        }
    }
    return 0;
}
