#include "digitizer/digitizer.h"

#include <chrono>
#include <cstring>

#include "digitizer/frame_parser.h"

namespace {

constexpr uint8_t FrameTag[3] = {'M', 'O', 'D'};
constexpr int FailuresBeforeResync = 3;

bool StartsWith(const std::vector<uint8_t>& data, const char* letters) {
    return data.size() >= 3 && std::memcmp(data.data(), letters, 3) == 0;
}

}  // namespace

TDigitizer::TDigitizer(uint8_t portNumber, uint32_t baudRate, TPostFunction post,
                       std::string devicePath)
    : devicePath_(std::move(devicePath)), post_(std::move(post)) {
    Start(portNumber, baudRate);
}

TDigitizer::~TDigitizer() {
    Stop();
}

bool TDigitizer::Start(uint8_t portNumber, uint32_t baudRate) {
    if (port_) {
        Stop();
    }
    rxPos_.store(0);
    synced_ = false;
    tagPositions_.clear();
    port_ = std::make_unique<TCommPort>(portNumber, baudRate, 0, 0, 0, 0, 8, devicePath_);
    TCommPort* port = port_.get();
    // An unopened port gets no reader thread: it would end at once.
    port->StartReader([this, port] { ReaderThread(port); });
    return port->IsOpen();
}

void TDigitizer::Stop() {
    if (port_) {
        port_->Close();  // the reader thread finishes its pass, SendNext included
        port_.reset();
    }
    std::lock_guard lock(queueLock_);
    while (!queue_.empty()) {
        PopLocked();
    }
    // A memory read discarded above must not turn the next session's frames
    // into a raw capture.
    readBackMode_.store(0);
}

// One pass: wait for bytes (at most a second), take them all, then give the
// head command one transmission. Close only clears IsOpen and wakes the wait,
// so the pass in progress finishes; and the pass that sees IsOpen cleared is
// the last one, so the command at the head when the link stops always goes out
// once more while the port is still open (a baud change relies on this).
void TDigitizer::ReaderThread(TCommPort* port) {
    using Clock = std::chrono::steady_clock;
    uint8_t chunk[ReadChunkSize];
    for (;;) {
        const auto passStart = Clock::now();
        auto result = port->WaitForData(ReaderWaitMs);
        if (result == TCommPort::TWaitResult::Readable) {
            bool any = false;
            int n;
            while ((n = port->Read(chunk, ReadChunkSize)) > 0) {
                any = true;
                Receive(chunk, n);
            }
            if (!any) {
                // Readable yet nothing to read: the device has gone away.
                result = TCommPort::TWaitResult::HangUp;
            }
        }
        if (result == TCommPort::TWaitResult::HangUp) {
            // Do not spin on a dead device: sit out the rest of the pass; the
            // watchdog restarts the link as for a silent line.
            auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - passStart);
            port->WaitForWake(ReaderWaitMs - static_cast<int>(spent.count()));
        }
        const bool closing = !port->IsOpen();
        SendNext();
        if (closing) {
            return;
        }
    }
}

TDigitizer::TEchoHead TDigitizer::SnapshotHead() const {
    TEchoHead head;
    std::lock_guard lock(queueLock_);
    if (queue_.empty() || queue_.front().Data.size() < 3) {
        return head;
    }
    const auto& data = queue_.front().Data;
    head.valid = true;
    std::memcpy(head.tag, data.data(), 3);
    head.isMemoryWrite = StartsWith(data, "$DR");
    if (head.isMemoryWrite) {
        uint32_t sum = 0;
        const size_t words = data.size() > 9 ? (data.size() - 9) / 2 : 0;
        for (size_t w = 0; w < words; ++w) {
            sum += (uint32_t(data[9 + 2 * w]) << 8) | data[10 + 2 * w];
        }
        head.dataSum = static_cast<uint16_t>(sum);
    }
    return head;
}

int TDigitizer::MatchEchoAgainst(const TEchoHead& head, const uint8_t* bytes, int left) {
    if (!head.valid || left <= 2 || std::memcmp(bytes, head.tag, 3) != 0) {
        return 0;
    }
    if (head.isMemoryWrite && left >= 5) {
        const uint16_t echoed = static_cast<uint16_t>((bytes[3] << 8) | bytes[4]);
        return echoed == head.dataSum ? 5 : 0;
    }
    return 3;
}

int TDigitizer::MatchEcho(const uint8_t* bytes, int left) {
    return MatchEchoAgainst(SnapshotHead(), bytes, left);
}

bool TDigitizer::Receive(const uint8_t* bytes, int count) {
    bool posted = false;
    // Only this thread removes commands and sends them, so the head can change
    // under us only by a command queued into an empty queue, which cannot have
    // been sent, let alone echoed, before this chunk is done.
    TEchoHead head = SnapshotHead();
    int i = 0;
    while (i < count) {
        if (head.valid) {
            const int k = MatchEchoAgainst(head, bytes + i, count - i);
            if (k > 0) {
                i += k;
                Pop();
                head = SnapshotHead();
                if (i >= count) {
                    return posted;
                }
                // the byte right after an echo is stored without a further test
            }
        }
        const uint8_t b = bytes[i++];
        const bool bootWait = bootWait_.load(std::memory_order_relaxed);
        if (bootWait && !bootWaitSeen_) {
            // Waiting for the boot loader starts a new line: what was collected
            // before is no part of it.
            rxPos_.store(0);
        }
        bootWaitSeen_ = bootWait;
        int pos = rxPos_.load(std::memory_order_relaxed);
        if (bootWait) {
            if (pos >= RxBufferSize) {
                rxPos_.store(0);
                continue;
            }
            rxBuffer_[pos++] = b;
            rxPos_.store(pos);
            if (b == '\n') {
                // The ready line is judged by its own first six bytes.
                const bool ready = pos >= 6 && std::memcmp(rxBuffer_, "Ready.", 6) == 0;
                rxPos_.store(0);
                synced_ = false;
                tagPositions_.clear();
                if (ready) {
                    bootWait_.store(false);
                    return posted;  // the rest of the chunk is dropped
                }
            }
        } else if (readBackMode_.load(std::memory_order_relaxed) == 1) {
            if (pos >= RxBufferSize) {
                rxPos_.store(0);
                continue;
            }
            rxBuffer_[pos++] = b;
            rxPos_.store(pos, std::memory_order_release);
        } else {
            StoreFramed(b, posted);
        }
    }
    return posted;
}

void TDigitizer::StoreFramed(uint8_t b, bool& posted) {
    int pos = rxPos_.load(std::memory_order_relaxed);
    if (pos >= RxBufferSize) {
        if (tagPositions_.size() < 2) {
            Resynchronise();
            return;  // the byte is dropped with the rest
        }
        // The oldest candidate has had its chance: keep the buffer from the
        // next remembered tag on, so that a long damaged frame does not take
        // the good frame after it down with it.
        const int from = tagPositions_[1];
        std::memmove(rxBuffer_, rxBuffer_ + from, static_cast<size_t>(pos - from));
        pos -= from;
        tagPositions_.erase(tagPositions_.begin());
        for (int& tag : tagPositions_) {
            tag -= from;
        }
    }
    rxBuffer_[pos++] = b;
    rxPos_.store(pos, std::memory_order_relaxed);
    if (b != 'D' || pos < 3 || std::memcmp(rxBuffer_ + pos - 3, FrameTag, 3) != 0) {
        return;
    }
    if (!synced_) {
        synced_ = true;
        std::memcpy(rxBuffer_, FrameTag, 3);
        rxPos_.store(3, std::memory_order_relaxed);
        tagPositions_.assign(1, 0);
        return;
    }
    TryCandidates(posted);
}

// A new "MOD" tag has just been stored. Try the frame from each tag seen since
// the last good frame, oldest first: a frame with "MOD" inside its samples is
// decoded from its own start, and a damaged frame costs only itself.
void TDigitizer::TryCandidates(bool& posted) {
    const int tagAt = rxPos_.load(std::memory_order_relaxed) - 3;
    for (int start : tagPositions_) {
        TDataBlock* block = NewBlock();
        if (!ParseFrame(block, rxBuffer_ + start, tagAt - start)) {
            FreeBlock(block);
            continue;
        }
        frameErrors_ = 0;
        if (!post_ || !post_(block)) {
            FreeBlock(block);
        }
        std::memmove(rxBuffer_, rxBuffer_ + tagAt, 3);
        rxPos_.store(3, std::memory_order_relaxed);
        tagPositions_.assign(1, 0);
        posted = true;
        return;
    }
    if (++frameErrors_ >= FailuresBeforeResync) {
        frameErrors_ = 0;
        Resynchronise();
        return;
    }
    tagPositions_.push_back(tagAt);
}

void TDigitizer::Resynchronise() {
    synced_ = false;
    rxPos_.store(0, std::memory_order_relaxed);
    tagPositions_.clear();
}

void TDigitizer::SendNext() {
    if (!port_) {
        return;
    }
    std::vector<uint8_t> data;
    {
        std::lock_guard lock(queueLock_);
        if (queue_.empty()) {
            return;
        }
        TCommandNode& head = queue_.front();
        if (head.Repeat == 0) {
            PopLocked();  // sent as often as allowed without an echo
            return;
        }
        data = head.Data;
        if (head.Repeat > 0) {
            --head.Repeat;
        }
    }
    port_->Write(data.data(), static_cast<int>(data.size()));
}

void TDigitizer::Pop() {
    std::lock_guard lock(queueLock_);
    PopLocked();
}

void TDigitizer::PopLocked() {
    if (queue_.empty()) {
        return;
    }
    const auto& data = queue_.front().Data;
    if (pendingWrites_.load() != 0 && StartsWith(data, "$DR")) {
        pendingWrites_.fetch_sub(1);
    }
    if (readBackMode_.load() == 2 && StartsWith(data, "$UR")) {
        readBackMode_.store(1);
        rxPos_.store(0);  // the capture begins with the next byte
        queue_.pop_front();
        return;
    }
    if (readBackMode_.load() == 1) {
        readBackMode_.store(0);  // any removal ends the capture
    }
    queue_.pop_front();
}

void TDigitizer::Enqueue(const uint8_t* bytes, int length, int repeat) {
    if (length < 0) {
        return;
    }
    EnqueueCommand(std::vector<uint8_t>(bytes, bytes + length), repeat);
}

void TDigitizer::EnqueueCommand(std::vector<uint8_t> bytes, int repeat) {
    std::lock_guard lock(queueLock_);
    queue_.push_back(TCommandNode{repeat, std::move(bytes)});
}

int TDigitizer::QueueLength() const {
    std::lock_guard lock(queueLock_);
    return static_cast<int>(queue_.size());
}

int TDigitizer::CopyCapture(uint8_t* out, int count) const {
    const int available = rxPos_.load(std::memory_order_acquire);
    const int n = count < available ? count : available;
    if (n > 0) {
        std::memcpy(out, rxBuffer_, static_cast<size_t>(n));
    }
    return n > 0 ? n : 0;
}
