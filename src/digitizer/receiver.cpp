#include "digitizer/receiver.h"

#include <algorithm>
#include <cstring>

#include "digitizer/frame_parser.h"

namespace {

constexpr uint8_t FrameTag[3] = {'M', 'O', 'D'};
constexpr int FailuresBeforeResync = 3;
// Bytes kept when the buffer is dropped: the start of a tag that the next
// bytes complete.
constexpr int TagStartBytes = 2;

}  // namespace

TReceiver::TReceiver(TCommandQueue& queue, TPostFunction post)
    : queue_(queue), post_(std::move(post)) {}

bool TReceiver::Receive(const uint8_t* bytes, int count) {
    bool posted = false;
    // Only this thread removes commands, so the head can change under us only by
    // a command queued into an empty queue, which cannot have been sent, let
    // alone echoed, before this chunk is done. For the same reason a capture
    // begins and ends only at a removal here.
    TEchoHead head = queue_.Head();
    bool capturing = queue_.ReadBackMode() == 1;
    bool echoMayStart = true;
    int i = 0;
    while (i < count) {
        if (echoMayStart && head.Valid) {
            const int k = head.Match(bytes + i, count - i);
            if (k > 0) {
                i += k;
                Pop();
                head = queue_.Head();
                capturing = queue_.ReadBackMode() == 1;
                echoMayStart = false;  // the byte right after an echo is stored untested
                continue;
            }
        }
        // The bytes up to the next one that could begin an echo are stored as a run.
        int end = count;
        if (head.Valid && i + 1 < count) {
            const void* next = std::memchr(bytes + i + 1, head.Tag[0], size_t(count - i - 1));
            if (next != nullptr) {
                end = static_cast<int>(static_cast<const uint8_t*>(next) - bytes);
            }
        }
        echoMayStart = true;
        const bool bootWait = bootWait_.load(std::memory_order_relaxed);
        if (bootWait && !bootWaitSeen_) {
            // Waiting for the boot loader starts a new line: what was collected
            // before is no part of it.
            Restart();
        }
        bootWaitSeen_ = bootWait;
        if (bootWait) {
            for (; i < end; ++i) {
                if (StoreLine(bytes[i])) {
                    return posted;  // the rest of the chunk is dropped
                }
            }
        } else if (capturing) {
            for (; i < end; ++i) {
                StoreCapture(bytes[i]);
            }
        } else {
            StoreFramed(bytes + i, end - i, posted);
            i = end;
        }
    }
    return posted;
}

bool TReceiver::LineEnded() {
    bool posted = false;
    if (!bootWait_.load() && queue_.ReadBackMode() != 1 && !tags_.empty()) {
        TryCandidates(rxPos_.load(std::memory_order_relaxed), posted);
    }
    return posted;
}

int TReceiver::MatchEcho(const uint8_t* bytes, int left) const {
    return queue_.Head().Match(bytes, left);
}

void TReceiver::Pop() {
    if (queue_.Pop()) {
        Restart();  // the capture begins with the next byte
    }
}

void TReceiver::Restart(int tail) {
    const int pos = rxPos_.load(std::memory_order_relaxed);
    tail = std::clamp(tail, 0, pos);
    std::memmove(rxBuffer_, rxBuffer_ + pos - tail, static_cast<size_t>(tail));
    rxPos_.store(tail);
    synced_ = false;
    tags_.clear();
}

// Boot wait: collects one line; true when it was the ready line, judged by its
// own first six bytes.
bool TReceiver::StoreLine(uint8_t b) {
    int pos = rxPos_.load(std::memory_order_relaxed);
    if (pos >= RxBufferSize) {
        Restart();  // a line without end wraps; the byte is dropped
        return false;
    }
    rxBuffer_[pos++] = b;
    rxPos_.store(pos);
    if (b != '\n') {
        return false;
    }
    const bool ready = pos >= 6 && std::memcmp(rxBuffer_, "Ready.", 6) == 0;
    Restart();
    if (ready) {
        bootWait_.store(false);
        bootWaitSeen_ = false;
    }
    return ready;
}

// The answer to a memory read, taken raw.
void TReceiver::StoreCapture(uint8_t b) {
    const int pos = rxPos_.load(std::memory_order_relaxed);
    if (pos >= RxBufferSize) {
        Restart();  // wraps; the byte is dropped
        return;
    }
    rxBuffer_[pos] = b;
    rxPos_.store(pos + 1, std::memory_order_release);
}

// Stores a run of bytes, looking for a tag at every "D".
void TReceiver::StoreFramed(const uint8_t* run, int n, bool& posted) {
    while (n > 0) {
        if (rxPos_.load(std::memory_order_relaxed) >= RxBufferSize) {
            MakeRoom(posted);
        }
        int pos = rxPos_.load(std::memory_order_relaxed);
        int take = std::min(n, RxBufferSize - pos);
        const void* d = std::memchr(run, FrameTag[2], size_t(take));
        if (d != nullptr) {
            take = static_cast<int>(static_cast<const uint8_t*>(d) - run) + 1;
        }
        std::memcpy(rxBuffer_ + pos, run, size_t(take));
        pos += take;
        rxPos_.store(pos, std::memory_order_relaxed);
        run += take;
        n -= take;
        if (d != nullptr && pos >= 3 && std::memcmp(rxBuffer_ + pos - 3, FrameTag, 3) == 0) {
            TagStored(posted);
        }
    }
}

// A "MOD" tag has just been stored.
void TReceiver::TagStored(bool& posted) {
    const int tag = rxPos_.load(std::memory_order_relaxed) - 3;
    if (!synced_) {
        KeepFrom(tag);  // everything before the first tag goes
        tags_.assign(1, 0);
        synced_ = true;
        return;
    }
    tags_.push_back(tag);
    TryCandidates(tag, posted);
}

// The buffer is full and a byte is waiting. The pending candidates cannot grow
// any further: try them before anything is dropped, then drop the oldest.
void TReceiver::MakeRoom(bool& posted) {
    if (synced_) {
        TryCandidates(rxPos_.load(std::memory_order_relaxed), posted);
    }
    if (rxPos_.load(std::memory_order_relaxed) < RxBufferSize) {
        return;
    }
    if (synced_) {
        CountFailure();  // the oldest candidate has had every byte it can get
        if (tags_.size() >= 2) {
            KeepFrom(tags_[1]);
            return;
        }
    }
    Restart(TagStartBytes);
}

// Tries the frame from each remembered tag before `end` up to `end`, oldest
// first, so that a frame with "MOD" inside its samples is decoded from its own
// start. The first that decodes is posted and the buffer goes on from the first
// tag at or beyond its end. A candidate that fails whatever follows is
// forgotten at once, with the bytes before the next one; one that was cut short
// stays, as more bytes may complete it. So a damaged frame costs only itself.
bool TReceiver::TryCandidates(int end, bool& posted) {
    size_t i = 0;
    while (i < tags_.size() && tags_[i] < end) {
        const int start = tags_[i];
        TDataBlock* block = NewBlock();
        TFrameExtent extent;
        if (ParseFrame(block, rxBuffer_ + start, end - start, &extent)) {
            frameErrors_ = 0;
            if (!post_ || !post_(block)) {
                FreeBlock(block);
            }
            posted = true;
            const auto next = std::lower_bound(tags_.begin(), tags_.end(), start + extent.Used);
            if (next != tags_.end()) {
                KeepFrom(*next);
            } else {
                Restart(TagStartBytes);  // nothing after the frame can start another
            }
            return true;
        }
        FreeBlock(block);
        if (extent.CutShort) {
            ++i;
        } else {
            tags_.erase(tags_.begin() + static_cast<std::ptrdiff_t>(i));
            CountFailure();
        }
    }
    if (tags_.empty()) {
        Restart(TagStartBytes);
    } else if (tags_[0] > 0) {
        KeepFrom(tags_[0]);
    }
    return false;
}

// Drops the bytes before `from`, a remembered tag or the tag just stored.
void TReceiver::KeepFrom(int from) {
    const int pos = rxPos_.load(std::memory_order_relaxed);
    std::memmove(rxBuffer_, rxBuffer_ + from, static_cast<size_t>(pos - from));
    rxPos_.store(pos - from, std::memory_order_relaxed);
    const auto kept = std::lower_bound(tags_.begin(), tags_.end(), from);
    tags_.erase(tags_.begin(), kept);
    for (int& tag : tags_) {
        tag -= from;
    }
}

// Frames that could not be decoded since the last good one. After the third in
// a row the count starts again: that is the resynchronisation. It drops nothing
// more, because candidates known to be bad are gone already: the buffer starts
// at the newest tag, or at an older frame still waiting for its bytes, which
// may be a good frame with tags inside its samples.
void TReceiver::CountFailure() {
    if (++frameErrors_ >= FailuresBeforeResync) {
        frameErrors_ = 0;
    }
}

int TReceiver::CopyCapture(uint8_t* out, int count) const {
    const int available = rxPos_.load(std::memory_order_acquire);
    const int n = count < available ? count : available;
    if (n > 0) {
        std::memcpy(out, rxBuffer_, static_cast<size_t>(n));
    }
    return n > 0 ? n : 0;
}
