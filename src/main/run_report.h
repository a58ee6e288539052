// Measurements of the running program from outside, on request: with the environment
// variable KESTREL32_RUN_REPORT set (and not empty) the program writes to standard error
//   kestrel32: first paint at 1234.567890 s monotonic, 0.345678 s CPU
// once the main window has painted for the first time (the system's monotonic clock, as
// CLOCK_MONOTONIC, and the CPU time the process has used so far), and at exit
//   kestrel32: 42 blocks received
// (the decoded blocks handed to the window). scripts/perf-report reads these lines.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

class QWidget;

class TRunReport : public QObject {
  public:
    using TSink = std::function<void(const std::string& line)>;

    // True when KESTREL32_RUN_REPORT is set and not empty.
    static bool Requested();

    // Watches `window` (shown afterwards) for its first paint and the application for block
    // events; each line goes to `sink` (standard error by default), begun with `program`.
    TRunReport(QWidget* window, std::string program, TSink sink = {});
    // Writes the count of blocks received.
    ~TRunReport() override;
    TRunReport(const TRunReport&) = delete;
    TRunReport& operator=(const TRunReport&) = delete;

    bool Painted() const { return painted_; }
    int64_t BlocksReceived() const { return blocks_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FirstPaintDone();

    QWidget* window_;
    std::string program_;
    TSink sink_;
    bool paintSeen_ = false;
    bool painted_ = false;
    int64_t blocks_ = 0;
};
