#include "sim/pty_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct TSpeedRow {
    int Baud;
    speed_t Speed;
};

constexpr TSpeedRow SpeedTable[] = {{1200, B1200},   {2400, B2400},    {4800, B4800},
                                    {9600, B9600},   {19200, B19200},  {38400, B38400},
                                    {57600, B57600}, {115200, B115200}};

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

speed_t SpeedFromBaud(int baud) {
    for (const TSpeedRow& row : SpeedTable) {
        if (row.Baud == baud) {
            return row.Speed;
        }
    }
    return 0;
}

int BaudFromSpeed(speed_t speed) {
    for (const TSpeedRow& row : SpeedTable) {
        if (row.Speed == speed) {
            return row.Baud;
        }
    }
    return 0;
}

bool TPtyDevice::Open(int baud, std::string& error) {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error = SystemError("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        error = SystemError("pseudo-terminal set-up");
        Close();
        return false;
    }
    path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        error = SystemError(name);
        Close();
        return false;
    }
    // Raw once, here, so that no line discipline changes bytes before the program opens the
    // device and sets it up itself.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    const speed_t speed = baud == UnusedBaud ? B300 : SpeedFromBaud(baud);
    if (speed != 0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    if (tcsetattr(slave_, TCSANOW, &t) != 0) {
        error = SystemError("tcsetattr");
        Close();
        return false;
    }
    return true;
}

void TPtyDevice::Close() {
    if (slave_ >= 0) {
        close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

int TPtyDevice::LineBaud() const {
    termios t{};
    // On Linux the terminal settings read through the master are those of the slave side.
    if (master_ < 0 || tcgetattr(master_, &t) != 0) {
        return 0;
    }
    return BaudFromSpeed(cfgetospeed(&t));
}

size_t TPtyDevice::Unread() const {
    int waiting = 0;
    if (slave_ < 0 || ioctl(slave_, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return static_cast<size_t>(waiting);
}

ssize_t TPtyDevice::Read(uint8_t* buffer, size_t size) {
    return master_ < 0 ? -1 : read(master_, buffer, size);
}

ssize_t TPtyDevice::Write(const uint8_t* data, size_t size) {
    return master_ < 0 ? -1 : write(master_, data, size);
}

bool PlaceLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        error = link + ": exists and is not a symbolic link";
        return false;
    }
    // Make the new link beside the old one and rename it over, so the path never vanishes.
    const std::string temp = link + ".tmp" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0) {
        error = SystemError(link.c_str());
        return false;
    }
    if (rename(temp.c_str(), link.c_str()) != 0) {
        error = SystemError(link.c_str());
        unlink(temp.c_str());
        return false;
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
    char buffer[4096];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n >= 0 && std::string(buffer, n) == target) {
        unlink(link.c_str());
    }
}
