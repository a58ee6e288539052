// The simulated serial device: a pseudo-terminal whose master side the unit drives and whose
// slave side the program opens. The simulator keeps a slave descriptor of its own open, so
// the master never reports a hang-up while the program closes and reopens the device.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Line rate constants and back; 0 for a rate, or a constant, outside 1200..115200.
speed_t SpeedFromBaud(int baud);
int BaudFromSpeed(speed_t speed);

// A rate the unit never uses: a device opened at it carries only noise until a program opens
// it and sets its own rate, as a line nobody has opened carries nothing.
inline constexpr int UnusedBaud = 300;

class TPtyDevice {
  public:
    TPtyDevice() = default;
    TPtyDevice(const TPtyDevice&) = delete;
    TPtyDevice& operator=(const TPtyDevice&) = delete;
    ~TPtyDevice() { Close(); }

    // Opens a fresh pseudo-terminal with its slave side raw at `baud`.
    bool Open(int baud, std::string& error);
    void Close();

    bool IsOpen() const { return master_ >= 0; }
    int Master() const { return master_; }
    const std::string& Path() const { return path_; }

    // The rate the slave side is set to (by whoever opened it last), 0 when not a known rate.
    int LineBaud() const;
    // Bytes written that the program has not read yet.
    size_t Unread() const;

    // Non-blocking; -1 with errno as read() and write() leave it.
    ssize_t Read(uint8_t* buffer, size_t size);
    ssize_t Write(const uint8_t* data, size_t size);

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Makes `link` a symbolic link to `target`, replacing a symbolic link already there (but not
// any other kind of file).
bool PlaceLink(const std::string& link, const std::string& target, std::string& error);
// Removes `link` if it is still a symbolic link to `target`.
void RemoveLink(const std::string& link, const std::string& target);
