// The link kept up for a program without a window: one TDigitizer, the watchdog that restarts
// a link silent for two ticks of 1100 ms (at the next rate of the baud search, or at its fixed
// rate), and the wait for a device that has gone away (a USB adapter unplugged) until it comes
// back. The owner's loop drives it with Service and logs the events it returns.
//
// The search after a silence tries the rate that last brought blocks first and again between
// each of the others (last, r1, last, r2, ...), so that a unit that merely fell silent is found
// within a tick or two of its return. A rate at which not even a frame tag came during a tick
// is left at that tick; one that shows a tag gets a second tick to deliver its first block.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "digitizer/digitizer.h"

class TLinkKeeper {
  public:
    using TClock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds TickInterval{1100};
    // The rate argument of Open that asks for the baud search.
    static constexpr uint32_t AutoBaud = 0;
    // Where the search begins.
    static constexpr uint32_t SearchStartBaud = 19200;

    enum class TEventKind {
        Searching,   // the line was silent: the search goes on at Baud
        Restarted,   // the line was silent at the fixed rate: the link restarted at Baud
        DeviceGone,  // the device hung up or cannot be found: Reason
        OpenFailed,  // the device is there but cannot be opened (busy, permission): Reason
        DeviceBack,  // the device opened again, at Baud
        Reopened,    // the device hung up and opened again at once, at Baud
    };
    struct TEvent {
        TEventKind Kind;
        uint32_t Baud = 0;
        std::string Reason;  // the device path and the system's reason
        // One line for a log: "searching at 38400 baud", "device gone: /dev/ttyUSB0: No such
        // file or directory", "device back at 19200 baud".
        std::string Text() const;
    };

    // Hands a decoded block to the owner with the line rate it came at; false: not taken, the
    // link frees it.
    using TPostFunction = std::function<bool(TDataBlock*, uint32_t baud)>;

    // `post` runs on the reader thread (and on the owner's in Service, for a frame decoded as
    // the link restarts). Everything else is called on the owner's thread. Blocks are counted
    // for the watchdog as they are posted.
    explicit TLinkKeeper(TPostFunction post);
    ~TLinkKeeper();
    TLinkKeeper(const TLinkKeeper&) = delete;
    TLinkKeeper& operator=(const TLinkKeeper&) = delete;

    // Opens `devicePath` (empty: the device of `portNumber`) at `baud`, or AutoBaud for the
    // search from SearchStartBaud, and starts reading; the first tick is due TickInterval
    // after `now`. False when the port did not open (LastOpenError says why); Service then
    // tries again at every tick, as for a device that went away.
    bool Open(uint8_t portNumber, const std::string& devicePath, uint32_t baud,
              TClock::time_point now);
    // Stops the link, waiting for its reader.
    void Close();

    // Does the tick when one is due (at most one per call; a late owner does not get a burst)
    // and says what happened. Between ticks it does nothing, so the owner may call it as
    // often as it likes.
    std::vector<TEvent> Service(TClock::time_point now);
    bool IsOpen() const;
    // The rate of the open port, none while no port is open.
    std::optional<uint32_t> BaudRate() const;
    // Why the last open failed ("/dev/ttyUSB0: No such file or directory"); empty after a
    // successful one.
    const std::string& LastOpenError() const { return lastError_; }
    // The link, for commands; null before Open.
    TDigitizer* Link() { return link_.get(); }

  private:
    // Starts the link at baud_; on failure notes the reason and, once per reason, an event.
    bool StartLink(std::vector<TEvent>& events);
    // The rate the search tries after baud_.
    uint32_t NextSearchBaud();

    TPostFunction post_;
    std::atomic<int> posted_{0};         // blocks posted since the last tick
    std::atomic<uint32_t> linkBaud_{0};  // the rate the running link was started at
    std::unique_ptr<TDigitizer> link_;
    uint8_t portNumber_ = 1;
    uint32_t baud_ = SearchStartBaud;  // the rate in use, or to use when the device is back
    bool search_ = false;
    int silentTicks_ = 0;    // ticks in a row without a block
    uint32_t lastGood_ = 0;  // the rate that last brought blocks; 0 before any
    uint32_t cursor_ = 0;    // the last rate other than lastGood_ that the search tried
    TClock::time_point nextTick_{};
    bool waiting_ = false;  // the device is away: each tick tries to open it
    std::string reported_;  // the failure reported last in this streak
    std::string lastError_;
};
