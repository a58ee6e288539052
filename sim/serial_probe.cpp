#include "sim/serial_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/files.h"
#include "digitizer/frame_parser.h"
#include "sim/pty_device.h"

namespace {

constexpr long MaxFrameLength = 200000;

int32_t Le32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                uint32_t{p[3]} << 24);
}

}  // namespace

long DeclaredFrameLength(const uint8_t* data, size_t available) {
    if (available < 8) {
        return 0;
    }
    if (std::memcmp(data, "MOD", 3) != 0) {
        return -1;
    }
    long pos = 8L + Le32(data + 4);
    if (pos < 8 || pos > MaxFrameLength) {
        return -1;
    }
    if (static_cast<size_t>(pos) + 8 > available) {
        return 0;
    }
    if (std::memcmp(data + pos, "MDE", 3) == 0) {
        const int32_t length = Le32(data + pos + 4);
        if (length < 0 || pos + 8L + length > MaxFrameLength) {
            return -1;
        }
        pos += 8L + length;
        if (static_cast<size_t>(pos) + 8 > available) {
            return 0;
        }
    }
    if (std::memcmp(data + pos, "DAT", 3) != 0) {
        return -1;
    }
    const int32_t length = Le32(data + pos + 4);
    if (length < 0 || pos + 8L + length + 12 > MaxFrameLength) {
        return -1;
    }
    return pos + 8L + length + 12;
}

bool TSerialProbe::Open(const std::string& path, int baud) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &t);
    if (!SetBaud(baud)) {
        Close();
        return false;
    }
    return true;
}

bool TSerialProbe::SetBaud(int baud) {
    termios t{};
    const speed_t speed = SpeedFromBaud(baud);
    if (fd_ < 0 || speed == 0 || tcgetattr(fd_, &t) != 0) {
        return false;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return tcsetattr(fd_, TCSANOW, &t) == 0;
}

void TSerialProbe::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool TSerialProbe::Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    for (int tries = 0; done < bytes.size() && tries < 1000; ++tries) {
        size_t n = 0;
        const TStatus written = WriteAll(fd_, bytes.data() + done, bytes.size() - done, &n);
        done += n;
        if (!written) {
            pollfd pfd{fd_, POLLOUT, 0};
            poll(&pfd, 1, 10);
        }
    }
    return done == bytes.size();
}

bool TSerialProbe::Write(std::string_view bytes) {
    return Write(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

size_t TSerialProbe::Poll(std::chrono::milliseconds timeout) {
    if (fd_ < 0) {
        return 0;
    }
    pollfd pfd{fd_, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0 || (pfd.revents & POLLIN) == 0) {
        return 0;
    }
    size_t total = 0;
    uint8_t buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd_, buffer, sizeof buffer)) > 0) {
        received_.insert(received_.end(), buffer, buffer + n);
        total += static_cast<size_t>(n);
    }
    return total;
}

bool TSerialProbe::ReadUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (Poll(std::min(left, std::chrono::milliseconds(50))) == 0 && fd_ >= 0) {
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0) {
                // The device went away: wait the rest of this round instead of spinning.
                poll(nullptr, 0, 20);
            }
        }
    }
    return true;
}

void TSerialProbe::Discard() {
    if (fd_ >= 0) {
        tcflush(fd_, TCIFLUSH);
    }
    received_.clear();
}

bool TSerialProbe::TakeEcho(std::string_view echo) {
    const auto at = std::search(received_.begin(), received_.end(), echo.begin(), echo.end(),
                                [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
    if (at == received_.end() || echo.empty()) {
        return false;
    }
    received_.erase(at, at + static_cast<long>(echo.size()));
    return true;
}

size_t TSerialProbe::TakeFrames() {
    static constexpr char Tag[] = "MOD";
    const auto findTag = [&](size_t from) {
        return static_cast<size_t>(std::search(received_.begin() + static_cast<long>(from),
                                               received_.end(), Tag, Tag + 3) -
                                   received_.begin());
    };
    const auto decode = [&](size_t at, size_t length) {
        TBlockPtr block(NewBlock());
        if (!ParseFrame(block.get(), &received_[at], static_cast<int32_t>(length))) {
            return false;
        }
        frames_.push_back(std::move(block));
        return true;
    };
    size_t added = 0;
    size_t start = 0;
    while (true) {
        start = findTag(start);
        if (start == received_.size()) {
            start = received_.size() - std::min<size_t>(received_.size(), 2);  // a tag may begin
            break;
        }
        // A frame ends at one of the next tags (one inside its samples is passed over), or
        // where its record lengths say when no further tag has come yet.
        std::vector<size_t> later;
        for (size_t at = findTag(start + 1); at < received_.size() && later.size() < 3;
             at = findTag(at + 1)) {
            later.push_back(at);
        }
        size_t end = 0;
        for (size_t at : later) {
            if (decode(start, at - start)) {
                end = at;
                break;
            }
        }
        const long length = DeclaredFrameLength(&received_[start], received_.size() - start);
        if (end == 0 && length > 0 && static_cast<size_t>(length) <= received_.size() - start &&
            decode(start, static_cast<size_t>(length))) {
            end = start + static_cast<size_t>(length);
        }
        if (end != 0) {
            ++added;
            start = end;
        } else if (later.size() == 3) {
            ++failed_;  // three tags on and still nothing: a damaged frame
            start = later[0];
        } else {
            break;  // not complete yet
        }
    }
    received_.erase(received_.begin(), received_.begin() + static_cast<long>(start));
    return added;
}
