#include "digitizer/command_queue.h"

#include <cstring>

namespace {

bool StartsWith(const std::vector<uint8_t>& data, const char* letters) {
    return data.size() >= 3 && std::memcmp(data.data(), letters, 3) == 0;
}

}  // namespace

int TEchoHead::Match(const uint8_t* bytes, int left) const {
    if (!Valid || left <= 2 || std::memcmp(bytes, Tag, 3) != 0) {
        return 0;
    }
    if (IsMemoryWrite && left >= 5) {
        const uint16_t echoed = static_cast<uint16_t>((bytes[3] << 8) | bytes[4]);
        return echoed == DataSum ? 5 : 0;
    }
    return 3;
}

void TCommandQueue::Enqueue(std::vector<uint8_t> bytes, int repeat) {
    std::lock_guard lock(lock_);
    queue_.push_back(TCommandNode{repeat, std::move(bytes)});
}

void TCommandQueue::EnqueueMemoryRead(std::vector<uint8_t> bytes, int repeat) {
    std::lock_guard lock(lock_);
    readBackMode_.store(2);
    queue_.push_back(TCommandNode{repeat, std::move(bytes)});
}

void TCommandQueue::EnqueueMemoryWrite(std::vector<uint8_t> bytes, int repeat) {
    std::lock_guard lock(lock_);
    pendingWrites_.fetch_add(1);
    queue_.push_back(TCommandNode{repeat, std::move(bytes)});
}

bool TCommandQueue::Pop() {
    std::lock_guard lock(lock_);
    if (queue_.empty()) {
        return false;
    }
    const auto& data = queue_.front().Data;
    if (pendingWrites_.load() != 0 && StartsWith(data, "$DR")) {
        pendingWrites_.fetch_sub(1);
    }
    bool captureStarts = false;
    if (readBackMode_.load() == 2 && StartsWith(data, "$UR")) {
        readBackMode_.store(1);
        captureStarts = true;
    } else if (readBackMode_.load() == 1) {
        readBackMode_.store(0);  // any removal ends the capture
    }
    queue_.pop_front();
    return captureStarts;
}

TCommandQueue::TSend TCommandQueue::TakeForSending(std::vector<uint8_t>& data) {
    std::lock_guard lock(lock_);
    if (queue_.empty()) {
        return TSend::Nothing;
    }
    TCommandNode& head = queue_.front();
    if (head.Repeat == 0) {
        return TSend::Expired;  // sent as often as allowed without an echo
    }
    data = head.Data;
    if (head.Repeat > 0) {
        --head.Repeat;
    }
    return TSend::Send;
}

TEchoHead TCommandQueue::Head() const {
    TEchoHead head;
    std::lock_guard lock(lock_);
    if (queue_.empty() || queue_.front().Data.size() < 3) {
        return head;
    }
    const auto& data = queue_.front().Data;
    head.Valid = true;
    std::memcpy(head.Tag, data.data(), 3);
    head.IsMemoryWrite = StartsWith(data, "$DR");
    if (head.IsMemoryWrite) {
        uint32_t sum = 0;
        const size_t words = data.size() > 9 ? (data.size() - 9) / 2 : 0;
        for (size_t w = 0; w < words; ++w) {
            sum += (uint32_t(data[9 + 2 * w]) << 8) | data[10 + 2 * w];
        }
        head.DataSum = static_cast<uint16_t>(sum);
    }
    return head;
}

int TCommandQueue::Length() const {
    std::lock_guard lock(lock_);
    return static_cast<int>(queue_.size());
}
