#include "digitizer/comm_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/files.h"
#include "digitizer/port_list.h"

namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedConstant(uint32_t baudRate) {
    switch (baudRate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

// Whole milliseconds to the deadline, rounded up, so that a wait never ends
// before it.
int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void ConsumeWake(int wakeHandle) {
    uint64_t value;
    while (read(wakeHandle, &value, sizeof value) > 0) {
    }
}

// The device path and the system's reason, with a hint for the usual causes.
std::string OpenFailureText(const std::string& path, int error) {
    if (error == ENOTTY) {
        return path + ": not a terminal device";
    }
    std::string text = path + ": " + std::strerror(error != 0 ? error : EIO);
    if (error == EACCES || error == EPERM) {
        text += " (is your user in the 'dialout' group?)";
    } else if (error == EBUSY) {
        text += " (another program is using it)";
    }
    return text;
}

}  // namespace

std::string DevicePathForPort(uint8_t portNumber) {
    return "/dev/ttyS" + std::to_string(static_cast<int>(portNumber) - 1);
}

bool IsSupportedBaudRate(uint32_t baudRate) {
    return SpeedConstant(baudRate) != B0;
}

std::string TCommPort::OpenErrorText() const {
    if (openResult_) {
        return {};
    }
    // The name given may be the wrong one: the ports that are there, so that the user
    // sees the right name at once.
    return openResult_.Error().Text + "\n" + SerialPortsHint(ListSerialPorts());
}

TCommPort::TCommPort(uint8_t portNumber, uint32_t baudRate, char eventChar, uint8_t flowControl,
                     uint8_t stopBits, uint8_t parity, uint8_t byteSize, std::string devicePath)
    : portNumber_(portNumber),
      byteSize_(byteSize),
      flowControl_(flowControl),
      parity_(parity),
      stopBits_(stopBits),
      baudRate_(baudRate == 0 ? 1 : baudRate),
      eventChar_(eventChar),
      devicePath_(devicePath.empty() ? DevicePathForPort(portNumber) : std::move(devicePath)) {
    Open();
}

TCommPort::~TCommPort() {
    Close();
}

const TStatus& TCommPort::Open() {
    const auto fail = [this](int error) -> const TStatus& {
        ReleaseHandles();
        return openResult_ = TError{OpenFailureText(devicePath_, error), error};
    };
    handle_ = open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle_ < 0) {
        return fail(errno);
    }
    if (!isatty(handle_)) {
        return fail(ENOTTY);
    }
    // A second opener fails: the lock stops root and other copies of this
    // program, TIOCEXCL other users. The flag is set only once the lock is ours,
    // so that a refused opener leaves the holder's flag alone.
    if (flock(handle_, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    }
    locked_ = true;
    exclusiveSet_ = ioctl(handle_, TIOCEXCL) == 0;
    // The settings found are put back at close: a terminal is not left raw.
    savedLine_ = std::make_unique<termios>();
    savedLineValid_ = tcgetattr(handle_, savedLine_.get()) == 0;
    wakeHandle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeHandle_ < 0) {
        return fail(errno);
    }
    // Received bytes from before the open go; output is left alone: on a
    // pseudo-terminal flushing it would discard what the previous session
    // wrote and the far end has not read yet (a baud command, for one).
    tcflush(handle_, TCIFLUSH);
    if (!ConfigureLine()) {
        return fail(errno != 0 ? errno : EINVAL);
    }
    openResult_ = TStatus();
    isOpen_.store(true);
    int dtr = TIOCM_DTR;
    ioctl(handle_, TIOCMBIS, &dtr);  // a pseudo-terminal has no modem lines
    return openResult_;
}

bool TCommPort::ConfigureLine() {
    errno = 0;
    speed_t speed = SpeedConstant(baudRate_);
    if (speed == B0) {
        errno = EINVAL;
        return false;
    }
    termios tio{};
    if (tcgetattr(handle_, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CSIZE;
    switch (byteSize_) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        default:
            tio.c_cflag |= CS8;
            break;
    }
    tio.c_cflag &= ~(PARENB | PARODD);
    if (parity_ == 1) {
        tio.c_cflag |= PARENB | PARODD;
    } else if (parity_ == 2) {
        tio.c_cflag |= PARENB;
    } else if (parity_ != 0) {
        errno = EINVAL;
        return false;
    }
    if (stopBits_ == 0) {
        tio.c_cflag &= ~CSTOPB;
    } else {
        tio.c_cflag |= CSTOPB;
    }
    if (flowControl_ & 2) {
        tio.c_cflag |= CRTSCTS;
    } else {
        tio.c_cflag &= ~CRTSCTS;
    }
    if (flowControl_ & 4) {
        tio.c_iflag |= IXON | IXOFF;
        tio.c_cc[VSTART] = 0x11;
        tio.c_cc[VSTOP] = 0x13;
    } else {
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        return false;
    }
    return tcsetattr(handle_, TCSANOW, &tio) == 0;
}

int TCommPort::Read(uint8_t* buffer, int max) {
    if (handle_ < 0 || max <= 0) {
        return 0;
    }
    int waiting = 0;
    int n = max;
    if (ioctl(handle_, FIONREAD, &waiting) == 0) {
        if (waiting <= 0) {
            return 0;
        }
        n = waiting < max ? waiting : max;
    }
    // Without a count (a hung-up pseudo-terminal refuses FIONREAD) the
    // non-blocking read still returns what is left, then nothing.
    ssize_t got = read(handle_, buffer, static_cast<size_t>(n));
    return got > 0 ? static_cast<int>(got) : 0;
}

bool TCommPort::Write(const uint8_t* data, int count) {
    if (handle_ < 0 || count < 0) {
        return false;
    }
    // The write limit: 19200 / rate ms per byte, none from 38400 up.
    // Once Close has begun the wait is bounded anyway, so that the reader
    // thread's last pass always ends.
    const uint32_t multiplier = WriteMultiplier();
    const bool limited = multiplier > 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(int64_t(count) * multiplier);
    constexpr int closingLimitMs = 1000;
    const auto closingDeadline = Clock::now() + std::chrono::milliseconds(closingLimitMs);
    int done = 0;
    while (done < count) {
        size_t n = 0;
        const TStatus written = WriteAll(handle_, data + done, size_t(count - done), &n);
        done += static_cast<int>(n);
        if (written) {
            break;
        }
        if (written.Error().Errno != EAGAIN) {
            NoteWriteLost(written.Error().Errno);
            return done > 0;
        }
        int timeout = -1;
        if (limited) {
            timeout = RemainingMs(deadline);
        }
        pollfd fds[2] = {{handle_, POLLOUT, 0}, {wakeHandle_, POLLIN, 0}};
        int nfds = 2;
        if (!isOpen_.load()) {
            // Closing: still hand the bytes over, but only for a bounded time.
            nfds = 1;
            int closing = RemainingMs(closingDeadline);
            timeout = timeout < 0 ? closing : std::min(timeout, closing);
        }
        if ((limited || nfds == 1) && timeout == 0) {
            break;
        }
        int ready = poll(fds, nfds, timeout);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            NoteWriteLost(EPIPE);
            break;
        }
        if (nfds == 2 && (fds[1].revents & POLLIN)) {
            continue;  // Close began: go round once more with the bounded wait
        }
    }
    return true;
}

void TCommPort::NoteWriteLost(int error) {
    // A device that has gone answers EIO (a pseudo-terminal whose far end closed, a USB
    // adapter unplugged), ENXIO or ENODEV.
    if (error == EIO || error == ENXIO || error == ENODEV || error == EPIPE) {
        int none = 0;
        writeLost_.compare_exchange_strong(none, error);
    }
}

TCommPort::TWaitResult TCommPort::WaitForData(int timeoutMs) {
    if (handle_ < 0 || !isOpen_.load()) {
        return TWaitResult::Woken;
    }
    pollfd fds[2] = {{handle_, POLLIN, 0}, {wakeHandle_, POLLIN, 0}};
    int ready;
    do {
        ready = poll(fds, 2, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return TWaitResult::Timeout;
    }
    if (fds[1].revents & POLLIN) {
        ConsumeWake(wakeHandle_);
        return TWaitResult::Woken;
    }
    if (fds[0].revents & POLLIN) {
        return TWaitResult::Readable;
    }
    return TWaitResult::HangUp;
}

void TCommPort::WaitForWake(int timeoutMs) {
    if (wakeHandle_ < 0 || timeoutMs <= 0 || !isOpen_.load()) {
        return;
    }
    pollfd fd = {wakeHandle_, POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int ready;
    do {
        ready = poll(&fd, 1, RemainingMs(deadline));
    } while (ready < 0 && errno == EINTR);
    if (ready > 0) {
        ConsumeWake(wakeHandle_);
    }
}

void TCommPort::StartReader(std::function<void()> body) {
    if (isOpen_.load() && !reader_.joinable()) {
        reader_ = std::thread(std::move(body));
    }
}

bool TCommPort::Close() {
    if (!isOpen_.exchange(false)) {
        return true;
    }
    uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(wakeHandle_, &one, sizeof one);
    if (reader_.joinable() && reader_.get_id() != std::this_thread::get_id()) {
        reader_.join();
    }
    // The reader's last pass may have sent a command (a baud change relies on
    // it): let it leave before purging, and purge the input only, unless the
    // output is stuck.
    const bool drained = DrainOutput();
    int dtr = TIOCM_DTR;
    ioctl(handle_, TIOCMBIC, &dtr);
    tcflush(handle_, drained ? TCIFLUSH : TCIOFLUSH);
    // The settings go back once the last bytes are out of the UART too: a
    // rate changed under them would garble the command they carry.
    RestoreLine(TCSADRAIN);
    ReleaseHandles();
    return true;
}

void TCommPort::RestoreLine(int when) {
    if (locked_ && savedLineValid_) {
        tcsetattr(handle_, when, savedLine_.get());
        savedLineValid_ = false;
    }
}

// Waits until the bytes of the last send pass have left, for at most the time
// they need on the line plus a margin; false when they did not.
bool TCommPort::DrainOutput() {
    int queued = 0;
    if (ioctl(handle_, TIOCOUTQ, &queued) != 0 || queued <= 0) {
        return true;
    }
    const int64_t lineMs = int64_t(queued) * 10 * 1000 / baudRate_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(100 + lineMs);
    while (ioctl(handle_, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (Clock::now() >= deadline) {
            return false;
        }
        usleep(2000);
    }
    return true;
}

void TCommPort::ReleaseHandles() {
    if (handle_ >= 0) {
        RestoreLine(TCSANOW);
        // The exclusive flag outlives the descriptor on a pseudo-terminal whose
        // far end stays open: clear it, or nobody but root could open it again.
        // Only the holder of the lock may: a refused opener would take it from
        // the program using the device.
        if (locked_ && exclusiveSet_) {
            ioctl(handle_, TIOCNXCL);
        }
        close(handle_);  // also drops the lock
        handle_ = -1;
    }
    locked_ = false;
    exclusiveSet_ = false;
    savedLineValid_ = false;
    if (wakeHandle_ >= 0) {
        close(wakeHandle_);
        wakeHandle_ = -1;
    }
}
