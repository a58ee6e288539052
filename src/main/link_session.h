// The link as the window, its pages and its dialogs use it: the one
// TDigitizer, the one-second watchdog that searches the baud rate while the
// digitizer is silent, and the restart of the link at a given rate.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "digitizer/digitizer.h"

class QTimer;

class TLinkSession : public QObject {
    Q_OBJECT
  public:
    static constexpr int TimerIntervalMs = 1100;
    // Ticks a digitizer is given to come back after a command that interrupts
    // its data (and after an explicit rate change) before the search starts.
    static constexpr int CommandWatchdog = 4;

    // `post` hands each decoded block to the main thread. No link exists
    // until Open.
    explicit TLinkSession(TDigitizer::TPostFunction post, QObject* parent = nullptr);
    ~TLinkSession() override;

    // Creates the link on `device` (empty: the device of the port number) at
    // `baud`, which opens the port and starts reading, and starts the
    // watchdog's timer. True when the port opened; otherwise the link stays
    // stopped (no port, the timer off) and OpenFailure says why.
    bool Open(uint8_t port, uint32_t baud, const std::string& device);
    // The link stopped and destroyed (waiting for its reader), the timer stopped.
    void Close();

    // The one link; Open must have been called.
    TDigitizer& Link() { return *link_; }
    const TDigitizer& Link() const { return *link_; }
    bool HasLink() const { return link_ != nullptr; }
    // The running link's port, none while stopped.
    const TCommPort* Port() const { return link_ ? link_->Port() : nullptr; }
    // The open port's rate, none while the link is stopped.
    std::optional<int32_t> BaudRate() const;
    QTimer* Timer() const { return timer_; }

    // Start: the link started again on `device` at (port, baud) with the
    // watchdog at 0 and the timer restarted. True when the port opened;
    // otherwise as Open.
    bool Start(uint8_t port, uint32_t baud, const std::string& device);
    // Why the last Open or Start failed: the device path and the system's
    // reason, then the serial ports present.
    const std::string& OpenFailure() const { return openFailure_; }
    // Stop: the timer stopped, then the link (queued commands are discarded).
    void Stop();
    // The link restarted on the same port at `baud` with the watchdog at
    // CommandWatchdog; 0 takes the next rate of the search cycle and sets the
    // watchdog to 0. The timer restarts its interval.
    void Reconnect(uint32_t baud);

    // The counter of blocks against ticks: +1 per block, -1 per tick; below
    // -1 the link is restarted at the next rate.
    int LinkWatchdog = 0;
    void BlockArrived() { ++LinkWatchdog; }
    void SetLinkWatchdog(int value) { LinkWatchdog = value; }
    // One tick of the timer.
    void TimerTimer();

  signals:
    // The watchdog ran out: the search restarts the link at the next rate.
    void Searching();
    // Reconnect has stopped the link and is about to start it at `baud`.
    void Reconnecting(uint32_t baud);

  private:
    // After an open: a port that did not open leaves the link stopped.
    bool Opened();

    std::unique_ptr<TDigitizer> link_;
    std::string openFailure_;
    TDigitizer::TPostFunction post_;
    QTimer* timer_;
    uint8_t port_ = 1;       // the port and rate of the last start, for a
    uint32_t baud_ = 19200;  // reconnect while no port exists
};
