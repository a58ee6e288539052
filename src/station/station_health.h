// The unit's state of health as the station sees it, and the station's alarms on it.
//
// Every complete block gives the unit's supply, temperatures, GPS and clock; the station adds
// how long no block has come and the archive's free space. The alarms (station/alarms.h) are
// evaluated on every block and every turn of the station's loop; each alarm raised or cleared
// is logged once, kept for the status, and handed to the on-alarm command. The commands run one
// at a time, in the order of the changes: a change that comes while one runs waits its turn.
//
// The GPS's age is counted in the unit's seconds (its blocks, one a second): the block's
// time less the time of the last block with a fix, which the unit itself reports (its last
// valid GPS block) across a restart of the station. A unit that has shown no fix since the
// station first saw it is unlocked for at least as long as the station has seen it.
//
// The status sections:
//   "health": {block_utc, supply_volts, supply_milliamps, sensor_celsius,
//              module_celsius: [6] or null, clock_source ("gps", "gps-no-fix",
//              "free-running"), timing_quality (0 to 100, as the records' blockette 1001 carries
//              it), gps: {form ("sentence", "reports", "none"), fix, satellites,
//              latitude, longitude, altitude_m, last_fix_utc, last_fix_age_s}}
//              (numbers null when the unit does not report them); absent before a block
//   "alarms": [{name, value, threshold, unit, since_us, since_utc}, ...]: those that stand
//   "alarm_log": {raised, cleared, command, commands_started, commands_failed,
//                 commands_waiting, recent: [{name, state, value, threshold, since_utc,
//                 at_utc}, ...]}: the last RecentCount changes, oldest first
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "digitizer/data_block.h"
#include "recording/record_block.h"
#include "station/alarms.h"
#include "station/event_command.h"
#include "station/station_config.h"

class TStationHealth {
  public:
    using TLog = std::function<void(const std::string&)>;
    static constexpr size_t RecentCount = 20;
    static constexpr size_t MaxWaiting = 100;  // commands waiting; more are dropped and logged

    TStationHealth(const TStationConfig& config, TLog log);
    ~TStationHealth();

    // New thresholds and command (a running command ends in its own time).
    void Configure(const TStationConfig& config);
    // One complete block and what the intake made of it.
    void Take(const TDataBlock& block, const TRecordBlock& record);
    // The alarms evaluated at `now` (UTC microseconds) with what the last block gave and
    // the station's own figures, when known. True when one was raised or cleared.
    bool Check(int64_t now, std::optional<double> noDataSeconds,
               std::optional<double> diskFreeMegabytes);
    // The running command reaped and held to its time limit, the next waiting one started.
    void Service();
    // The command ended (what waits is not run).
    void Stop();

    // The status sections by name, as JSON values.
    std::vector<std::pair<std::string, std::string>> StatusSections() const;
    const TAlarmEvaluator& Alarms() const { return evaluator_; }

  private:
    struct TRecentChange {
        TAlarmChange Change;
        int64_t At = 0;
    };
    void Changed(const TAlarmChange& change, int64_t now);
    void Log(const std::vector<std::string>& lines);

    TLog log_;
    std::string device_;
    TAlarmConfig config_;
    TAlarmEvaluator evaluator_;
    std::unique_ptr<TEventCommand> command_;
    std::deque<std::pair<std::string, TEventCommand::TValues>> waiting_;
    std::deque<TRecentChange> recent_;
    int64_t raised_ = 0, cleared_ = 0;

    // From the blocks.
    bool have_ = false;
    TBlockHeader header_;
    TGpsInfo gps_;
    int64_t blockTime_ = 0;  // UTC seconds of the last block's first sample
    bool clockLocked_ = false;
    int timingQuality_ = 0;  // of the last block, as its records carry it (blockette 1001)
    bool fix_ = false;
    std::optional<int64_t> lastFixTime_;  // UTC seconds of the unit's last block with a fix
    int64_t firstTime_ = 0;               // of the first block seen
};
