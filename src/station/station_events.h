// digitizer-station's event detection: the event detector fed every block beside the
// recorder, each event written to the events file (and the CSV file) as it starts and ends,
// the on-event command started at each start, and the last events kept for the status.
// Everything runs on the station's loop: a block costs the detector's time only (the files
// are written, and the command started, at an event's start and end).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "detect/event_detector.h"
#include "station/event_command.h"
#include "station/event_log.h"
#include "station/station_config.h"

// An event as the status keeps it.
struct TRecentEvent {
    uint64_t Id = 0;
    TSampleTime Start;
    std::optional<TSampleTime> End;  // none while it runs
    bool Cut = false;
    std::string Channels;  // triggered, "1,2,3"
    double PeakRatio = 0;
    bool Calibration = false;  // marked as a calibration's (TEvent::Calibration)
    bool Clipped = false;      // a channel clipped (known at the end)
};

class TStationEvents {
  public:
    using TLog = std::function<void(const std::string&)>;
    static constexpr size_t RecentCount = 20;

    // The watch for `config` (config.Events passing CheckEventConfig), or why not. The events'
    // numbers go on from `lastId`, so that they stay unique when the configuration changes.
    static TResult<std::unique_ptr<TStationEvents>> Make(const TStationConfig& config, TLog log,
                                                         uint64_t lastId = 0);

    // One block with its stream format's gain bits. True when an event started or ended.
    bool Take(const TRecordBlock& block, int32_t gainBits);
    // The on-event command reaped and held to its time limit; never waits.
    void Service();
    // The files closed, to be opened afresh at the next line (after a SIGHUP: moved files).
    void Reopen();
    // An event in its hold written as ended, the command ended, the files closed.
    void Stop();

    // The "events" section of the status file: a JSON object.
    std::string StatusJson() const;
    uint64_t LastId() const { return lastId_; }
    const TEventConfig& Config() const { return config_; }
    const std::deque<TRecentEvent>& Recent() const { return recent_; }

  private:
    TStationEvents(const TStationConfig& config, TLog log, TEventDetector detector,
                   uint64_t lastId);

    void Started(const TEvent& event, uint64_t id, const TEventPlace& place);
    void Ended(const TEvent& event, uint64_t id, const TEventPlace& place);
    void Write(TAppendFile& file, bool& failing, const std::string& line);

    TEventConfig config_;
    TLog log_;
    TEventDetector detector_;
    std::string network_, station_, location_, device_;
    std::array<std::string, 6> channelCodes_;  // as configured
    TEventPlace place_;                        // of the last event
    std::array<std::optional<TSensor>, 2> sensors_;
    uint64_t firstId_ = 0;  // the detector's event 1 is the station's firstId_ + 1
    uint64_t lastId_ = 0;
    TAppendFile file_;
    std::unique_ptr<TAppendFile> csv_;
    bool fileFailing_ = false;
    bool csvFailing_ = false;
    std::unique_ptr<TEventCommand> command_;
    std::deque<TRecentEvent> recent_;
    int64_t detected_ = 0;
    std::string idle_;
};
