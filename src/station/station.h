// The station service's work, without its process: the link kept up (the baud search, the
// watchdog, a device that goes away and comes back), every block timed and handed to the
// recorder, the recorder's news and the link's events logged, and the status file rewritten.
// The program's main loop calls Turn until it is told to stop.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "datalink/datalink_client.h"
#include "digitizer/block_queue.h"
#include "digitizer/link_keeper.h"
#include "metadata/station_metadata.h"
#include "recording/archive_spans.h"
#include "recording/block_intake.h"
#include "recording/live_records.h"
#include "recording/recorder.h"
#include "seedlink/seedlink_server.h"
#include "station/station_config.h"
#include "station/station_events.h"
#include "station/station_health.h"
#include "station/status_file.h"
#include "web/web_server.h"

// The recorder's settings for a configuration; `serialNumber` gives the station code of the
// periods layout when none is configured (the SDS layout finds it from each block).
TRecorderSettings RecorderSettingsOf(const TStationConfig& config,
                                     const std::string& serialNumber = {});

// Where the status file goes when none is configured: DefaultStatusDirectory() (the service
// manager's runtime directory, else one of the user's) and the device's name.
std::string DefaultStatusFile(const TStationConfig& config);

// The live records' settings for a configuration: the archive's codes, SeedLinkFlush.
TLiveSettings LiveSettingsOf(const TStationConfig& config);
// The SeedLink server's settings for a configuration (which must name a SeedLink address).
TSeedLinkConfig SeedLinkConfigOf(const TStationConfig& config);
// The HTTP server's settings for a configuration (which must name an HTTP address).
TWebConfig WebConfigOf(const TStationConfig& config);
// What /api/health answers for a status: healthy while the link is receiving and recording is
// allowed. Alarms join here, as one more reason to be unhealthy.
TWebSnapshot WebSnapshotOf(const TStationStatus& status, const std::string& refused);

// The channels a configuration records, with its sensors, for the station's metadata.
TChannelPlan ChannelPlanOf(const TStationConfig& config);

// Where the station's metadata is kept and what the configuration adds to it.
TStationSource StationSourceOf(const TStationConfig& config);

// The StationXML document of the configuration and its archive (--stationxml): the stations
// of the configured network and location whose metadata the archive keeps (only the
// configured station's when a station code is configured), with the configured position and
// site name. `notes` gets what a person should know: files that could not be read, no station
// recorded yet.
std::string StationXmlOf(const TStationConfig& config, int64_t now,
                         std::vector<std::string>& notes);

class TStation {
  public:
    using TLog = std::function<void(const std::string&)>;
    using TClock = std::chrono::steady_clock;

    static constexpr std::chrono::seconds StatusInterval{10};

    TStation(TStationConfig config, TLog log, TBlockIntake::TUtcClock now = SystemUtcSeconds);
    ~TStation();
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // Opens the link (a device that is not there yet is waited for), and starts the SeedLink
    // server and the DataLink push when configured (a server that cannot listen is logged and
    // the station records without it).
    void Start();
    // One turn of the loop: the blocks that have come (waiting up to `wait` for the first),
    // the link's tick when due, the recorder's news, the status file when due.
    void Turn(std::chrono::milliseconds wait);
    // A new configuration (SIGHUP): the files are closed and opened again under it, the link
    // reopened when its device or rate changed.
    void Reconfigure(const TStationConfig& config);
    // The link stopped, everything pending written (the last partial records handed to the
    // SeedLink ring, which is saved, and to the DataLink push, given a moment to send them),
    // and the status written a last time.
    void Stop();

    // One complete decoded block, as the loop takes it from the link with the line rate it came
    // at (0: not known): timed by the intake and handed to the live records, the event
    // detection and the recorder.
    void TakeBlock(const TDataBlock& block, uint32_t baud);

    TStationStatus Status() const;
    const TStationConfig& Config() const { return config_; }

  private:
    // Takes note of the unit's serial number; false when the archive's codes belong to
    // another unit, whose records this one's must not join (logged, in the status).
    bool UnitMayRecord(const std::string& serialNumber);
    void LogNews();
    void WriteStatus(bool stopping = false);
    void OpenLink();
    void StartNetwork();
    // The live delivery stopped: the last partial records handed on, the ring saved, the push
    // given its time to drain. The server and the client stay for the last status.
    void StopNetwork();
    void HandLive(TLiveRecord record);
    void LogNetwork();
    void StartEvents(uint64_t lastId);
    // The alarms evaluated; the status written at once when one was raised or cleared.
    void CheckHealth();
    void StartWeb();
    // The channel epochs and the GPS position of the station's metadata brought up to date
    // with a block and kept in the archive.
    void KeepMetadata(const TIntakeBlock& taken, const TGpsInfo& gps);
    // The recorder's settings for the configuration, with the spans picture when one is kept.
    TRecorderSettings RecorderSettings() const;

    TStationConfig config_;
    TLog log_;
    TBlockIntake intake_;
    std::unique_ptr<TRecorder> recorder_;
    std::unique_ptr<TLinkKeeper> keeper_;
    std::string statusPath_;

    TBlockQueue queue_;

    // Live delivery: records made per stream, for the SeedLink server and the DataLink push.
    std::unique_ptr<TLiveRecords> live_;
    std::unique_ptr<TSeedLinkServer> seedlink_;
    std::unique_ptr<TDataLinkClient> datalink_;
    // The HTTP server, when configured (--http), and what the station last said for it.
    std::unique_ptr<TWebServer> web_;
    // The archive's spans for the availability service: kept while the HTTP server runs.
    std::shared_ptr<TArchiveSpans> spans_;
    // Reads the archive's record headers into spans_ when the server starts.
    std::jthread spansReader_;
    std::shared_ptr<TWebSnapshotBox> webSnapshot_ = std::make_shared<TWebSnapshotBox>();
    // Event detection, when configured (--trigger).
    std::unique_ptr<TStationEvents> events_;
    // The unit's health and the alarms on it.
    TStationHealth health_;
    // The DataLink client logs from its own thread; the lines are logged from the loop.
    std::shared_ptr<std::mutex> datalinkLogMutex_ = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<std::string>> datalinkLog_ =
        std::make_shared<std::vector<std::string>>();

    // The figures of the status file.
    int64_t started_ = 0;  // microseconds
    int64_t blocksReceived_ = 0;
    int64_t gaps_ = 0;
    int64_t framesLost_ = 0;
    int64_t powerCycles_ = 0;
    int64_t formatChanges_ = 0;
    std::string serialNumber_;
    bool codesClaimed_ = false;  // the archive's owners file looked at for this unit and codes
    std::string refused_;        // why this unit may not record; empty when it may
    std::string linkState_ = "opening";
    TClock::time_point lastBlock_{};  // or the start, before the first block
    TClock::time_point nextDiskCheck_{};
    std::optional<double> diskFreeMegabytes_;
    TClock::time_point nextStatus_{};
    std::string lastError_;
    int64_t lastErrorTime_ = 0;
    bool statusFailing_ = false;
    bool stopped_ = false;

    // The station's metadata as ARCHIVE/metadata keeps it; loaded at the first block (and
    // again when the codes or the archive change).
    std::string metadataPath_;
    std::optional<TStationMetadata> metadata_;
    TPositionFixes fixes_;
    bool metadataFailing_ = false;
};
