#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
}

TPtyPeer::TPtyPeer() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        throw std::runtime_error("cannot name the pseudo-terminal");
    }
    slavePath_ = name;
    termios tio{};
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

TPtyPeer::~TPtyPeer() {
    Close();
}

void TPtyPeer::Close() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

void TPtyPeer::Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd fd{master_, POLLOUT, 0};
            poll(&fd, 1, 100);
        }
    }
}

void TPtyPeer::Write(const std::string& text) {
    Write(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> TPtyPeer::ReadFor(std::chrono::milliseconds duration) {
    std::vector<uint8_t> received;
    ReadUntil(
        received, [](const std::vector<uint8_t>&) { return false; }, duration);
    return received;
}

bool TPtyPeer::ReadUntil(std::vector<uint8_t>& received,
                         const std::function<bool(const std::vector<uint8_t>&)>& done,
                         std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    uint8_t buffer[4096];
    while (!done(received)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) {
            received.insert(received.end(), buffer, buffer + n);
        } else {
            // The slave side is closed (EIO): nothing can arrive until it reopens.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return true;
}

speed_t TPtyPeer::LineSpeed() const {
    termios tio{};
    tcgetattr(master_, &tio);
    return cfgetospeed(&tio);
}

int CountOccurrences(const std::vector<uint8_t>& haystack, const std::string& needle) {
    int count = 0;
    auto it = haystack.begin();
    while ((it = std::search(it, haystack.end(), needle.begin(), needle.end())) != haystack.end()) {
        ++count;
        it += static_cast<std::ptrdiff_t>(needle.size());
    }
    return count;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
