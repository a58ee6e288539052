// The station service's work, without its process: the link kept up (the baud search, the
// watchdog, a device that goes away and comes back), every block timed and handed to the
// recorder, the recorder's news and the link's events logged, and the status file rewritten.
// The program's main loop calls Turn until it is told to stop.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "digitizer/block_queue.h"
#include "digitizer/link_keeper.h"
#include "recording/recorder.h"
#include "station/block_clock.h"
#include "station/station_config.h"
#include "station/status_file.h"

// The recorder's settings for a configuration; `serialNumber` gives the station code of the
// periods layout when none is configured (the SDS layout finds it from each block).
TRecorderSettings RecorderSettingsOf(const TStationConfig& config,
                                     const std::string& serialNumber = {});

// Where the status file goes when none is configured: $RUNTIME_DIRECTORY (the service
// manager's) or /run/kestrel32, and the device's name.
std::string DefaultStatusFile(const TStationConfig& config);

class TStation {
  public:
    using TLog = std::function<void(const std::string&)>;
    using TClock = std::chrono::steady_clock;

    static constexpr std::chrono::seconds StatusInterval{10};

    TStation(TStationConfig config, TLog log, TBlockClock::TNow now = SystemUtcSeconds);
    ~TStation();
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // Opens the link; a device that is not there yet is waited for.
    void Start();
    // One turn of the loop: the blocks that have come (waiting up to `wait` for the first),
    // the link's tick when due, the recorder's news, the status file when due.
    void Turn(std::chrono::milliseconds wait);
    // A new configuration (SIGHUP): the files are closed and opened again under it, the link
    // reopened when its device or rate changed.
    void Reconfigure(const TStationConfig& config);
    // The link stopped, everything pending written, and the status written a last time.
    void Stop();

    TStationStatus Status() const;
    const TStationConfig& Config() const { return config_; }

  private:
    void TakeBlock(const TDataBlock& block);
    void LogNews();
    void WriteStatus(bool stopping = false);
    void OpenLink();

    TStationConfig config_;
    TLog log_;
    TBlockClock clock_;
    TBlockClock::TNow now_;
    std::unique_ptr<TRecorder> recorder_;
    std::unique_ptr<TLinkKeeper> keeper_;
    std::string statusPath_;

    TBlockQueue queue_;

    // The figures of the status file.
    int64_t started_ = 0;  // microseconds
    int64_t blocksReceived_ = 0;
    int64_t gaps_ = 0;
    bool haveLast_ = false;
    int64_t lastTime_ = 0;
    uint32_t lastCount_ = 0;
    int64_t framesLost_ = 0;
    std::string serialNumber_;
    std::string linkState_ = "opening";
    TClock::time_point lastBlock_{};
    TClock::time_point nextStatus_{};
    std::string lastError_;
    int64_t lastErrorTime_ = 0;
    bool statusFailing_ = false;
    bool stopped_ = false;
};
