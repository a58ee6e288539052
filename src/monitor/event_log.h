// The window's event detection: a TEventDetector fed every block, the events it found (the
// newest MaxEvents, the one running included) and the live STA/LTA ratio of each channel
// taking part. No Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "base/result.h"
#include "detect/event_detector.h"
#include "digitizer/data_block.h"

class TEventLog {
  public:
    static constexpr size_t MaxEvents = 1000;

    explicit TEventLog(const TDetectorSettings& settings);

    // New settings in force from the next block: the channels start afresh (an event running
    // ends there, cut); the events found stay. Refused, and the detector left as it was, when
    // ValidateDetectorSettings refuses them.
    TStatus SetSettings(const TDetectorSettings& settings);
    const TDetectorSettings& Settings() const { return detector_->Settings(); }

    // The unit told to calibrate (a "$CA" mode other than 0, "Off") or to stop: while it
    // calibrates and for the LTA's length after, the events are marked Calibration. Kept
    // across new settings.
    void SetCalibration(int mode);

    // One whole block with the stream format's gain bits. True when an event started or ended.
    bool Take(const TRecordBlock& block, int32_t gainBits);

    // Oldest first, numbered 1, 2, ... since the program began (new settings do not number
    // them again); an event still running is the last, with its End at the newest sample
    // seen and Running() true.
    const std::deque<TEvent>& Events() const { return events_; }
    bool Running() const { return running_; }
    // Events started since the program began (more than Events() holds after MaxEvents).
    uint64_t Count() const { return count_; }
    // The ratio of channel `c` (0-based) after the newest block; none for a channel that
    // does not take part or the blocks do not carry.
    const std::optional<TChannelRatio>& Ratio(int c) const {
        return ratios_[static_cast<size_t>(c)];
    }
    // Why nothing can be detected now; empty while detecting.
    const std::string& Idle() const { return detector_->Idle(); }
    // Why the channels last started afresh, empty until they do.
    const std::string& LastRestart() const { return lastRestart_; }
    // The events forgotten.
    void Clear();

  private:
    std::optional<TEventDetector> detector_;
    bool calibrating_ = false;
    std::deque<TEvent> events_;
    bool running_ = false;
    uint64_t runningId_ = 0;  // the detector's number of the running event
    uint64_t count_ = 0;
    std::array<std::optional<TChannelRatio>, MaxChannels> ratios_{};
    std::string lastRestart_;
};
