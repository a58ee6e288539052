// One serial device, opened exclusively in raw mode (its settings put back at
// close), with a reader thread that Close wakes and joins.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/result.h"

struct termios;

// Device of port number N: /dev/ttyS<N-1>.
std::string DevicePathForPort(uint8_t portNumber);

// True for the line speeds the port can be set to (1200 ... 115200 bit/s).
bool IsSupportedBaudRate(uint32_t baudRate);

class TCommPort {
  public:
    enum class TWaitResult { Readable, Timeout, Woken, HangUp };

    // Flow-control bits: 0 DSR/DTR (no effect here), 1 CTS/RTS, 2 XON/XOFF.
    // Stop bits: 0 one, 1 one and a half (taken as two), 2 two. Parity: 0 none,
    // 1 odd, 2 even (mark and space are refused). An empty device path names
    // the device from the port number.
    TCommPort(uint8_t portNumber, uint32_t baudRate, char eventChar, uint8_t flowControl,
              uint8_t stopBits, uint8_t parity, uint8_t byteSize, std::string devicePath = {});
    ~TCommPort();
    TCommPort(const TCommPort&) = delete;
    TCommPort& operator=(const TCommPort&) = delete;

    // Fails with the device path and the system's reason (ENOTTY: not a terminal device).
    const TStatus& Open();
    bool ConfigureLine();
    // Bytes already received, at most max; never waits.
    int Read(uint8_t* buffer, int max);
    // Hands over every byte within 19200 / BaudRate ms per byte (no limit from
    // 38400 bit/s up); a running Close cuts the wait short.
    bool Write(const uint8_t* data, int count);
    // Wakes and joins the reader thread, lowers DTR, purges, puts the line
    // settings found at open back and closes.
    bool Close();

    // Waits until bytes arrive, the device hangs up, Close is called or the
    // time runs out.
    TWaitResult WaitForData(int timeoutMs);
    // Waits on the wake-up descriptor alone (after a hang-up).
    void WaitForWake(int timeoutMs);
    // Starts the thread that services this port; Close joins it.
    void StartReader(std::function<void()> body);

    int Handle() const { return handle_; }
    uint8_t PortNumber() const { return portNumber_; }
    uint32_t BaudRate() const { return baudRate_; }
    bool IsOpen() const { return isOpen_.load(); }
    const std::string& DevicePath() const { return devicePath_; }
    const TStatus& OpenResult() const { return openResult_; }
    // The device path and the system's reason, then the serial ports present (a few lines),
    // for messages to the user.
    std::string OpenErrorText() const;
    // The errno of the first write that found the device gone (EIO, ENXIO, ENODEV, or EPIPE
    // for a hang-up seen while waiting to write); 0 while none has.
    int WriteLost() const { return writeLost_.load(); }
    // Write time limit in ms per byte, 0 meaning none.
    uint32_t WriteMultiplier() const { return 19200 / baudRate_; }

  private:
    void ReleaseHandles();
    // Puts back the line settings found at open, if this object changed them.
    void RestoreLine(int when);
    bool DrainOutput();
    void NoteWriteLost(int error);

    int handle_ = -1;
    int wakeHandle_ = -1;
    uint8_t portNumber_;
    std::atomic<bool> isOpen_{false};
    std::atomic<int> writeLost_{0};
    uint8_t byteSize_;
    uint8_t flowControl_;
    uint8_t parity_;
    uint8_t stopBits_;
    uint32_t baudRate_;
    char eventChar_;
    std::string devicePath_;
    TStatus openResult_;
    bool locked_ = false;        // this object holds the device's lock
    bool exclusiveSet_ = false;  // and set its exclusive flag
    // Line settings found at open. Held apart, so that this header does not bring the
    // system's terminal macros (B0, B50, ...) to every file that uses the link.
    std::unique_ptr<termios> savedLine_;
    bool savedLineValid_ = false;
    std::thread reader_;
};
