#include "station/station.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "about/version.h"
#include "digitizer/port_list.h"
#include "metadata/station_xml.h"
#include "recording/archive_owners.h"
#include "recording/period_files.h"
#include "recording/stream_codes.h"
#include "seedfile/seed_file.h"
#include "station/instance_locks.h"
#include "station/status_sections.h"

namespace {

// The live page installed with the program: DATADIR/kestrel32/web beside the program's own
// bin directory, so that it follows the prefix the package was installed under.
std::string InstalledWebRoot() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return (program.parent_path().parent_path() / KESTREL_DATADIR / "kestrel32" / "web").string();
}

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool IsComplete(const TDataBlock& block) {
    return block.Header && block.Gps && block.Samples && block.Sum;
}

// "3 channels, 100 sps, 3 bytes, 19200 baud" for the log.
std::string FormatText(const TStreamFormat& format) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", format.SampleRate);
    return std::to_string(format.ChannelCount) + " channels, " + rate + " sps, " +
           std::to_string(format.BytesPerSample) + " bytes, " + std::to_string(format.BaudRate) +
           " baud";
}

}  // namespace

TRecorderSettings RecorderSettingsOf(const TStationConfig& config,
                                     const std::string& serialNumber) {
    TRecorderSettings settings;
    settings.Layout = config.Layout;
    settings.MemoryLimit = static_cast<size_t>(config.QueueMegabytes) << 20;
    settings.Sds.Root = config.Archive;
    settings.Sds.KeepDays = config.KeepDays;
    settings.Sds.MinFreePercent = config.MinFreePercent;
    settings.Sds.Network = config.Network;
    settings.Sds.Station = config.Station;
    settings.Sds.Location = config.Location;
    for (size_t c = 0; c < config.ChannelCodes.size() && c < settings.Sds.ChannelCodes.size();
         ++c) {
        settings.Sds.ChannelCodes[c] = config.ChannelCodes[c];
    }
    settings.Sds.RecordLength = static_cast<size_t>(config.RecordLength);
    settings.Sds.FlushSeconds = config.FlushSeconds;
    settings.Sds.Soh = config.Soh;
    settings.Periods.BaseDir = config.Archive;
    settings.Periods.Station = StationCodeOf(config.Station, serialNumber);
    settings.Periods.Location = config.Location;
    settings.Periods.Network = config.Network;
    settings.Periods.DurationMinutes = config.DurationMinutes;
    return settings;
}

std::string DefaultStatusFile(const TStationConfig& config) {
    const std::string dir = DefaultStatusDirectory();
    std::string device = StationDevicePath(config);
    const size_t slash = device.rfind('/');
    if (slash != std::string::npos) {
        device.erase(0, slash + 1);
    }
    return dir + "/" + (device.empty() ? std::string("station") : device) + ".json";
}

TLiveSettings LiveSettingsOf(const TStationConfig& config) {
    const TSdsSettings sds = RecorderSettingsOf(config).Sds;
    TLiveSettings live;
    live.Network = sds.Network;
    live.Station = sds.Station;
    live.Location = sds.Location;
    live.ChannelCodes = sds.ChannelCodes;
    live.Soh = sds.Soh;
    live.FlushSeconds = config.SeedLinkFlush;
    return live;
}

TSeedLinkConfig SeedLinkConfigOf(const TStationConfig& config) {
    TSeedLinkConfig server;
    std::string error;
    server.Listen = ParseListenAddress(config.SeedLink, error).value_or(TListenAddress{});
    server.RingBytes = static_cast<size_t>(config.SeedLinkRingMegabytes) << 20;
    server.RingFile = SeedLinkRingPath(config);
    server.SyncInterval = std::chrono::seconds(config.FlushSeconds);  // as the archive's files
    server.Allow =
        ParseAddressRanges(config.SeedLinkAllow, error).value_or(std::vector<TAddressRange>{});
    server.Trusted =
        ParseAddressRanges(config.SeedLinkTrusted, error).value_or(std::vector<TAddressRange>{});
    server.MaxClients = config.SeedLinkMaxClients;
    server.Timeout = std::chrono::seconds(config.SeedLinkTimeout);
    server.Software = std::string("digitizer-station ") + ProgramVersion;
    server.Description = "digitizer-station on " + StationDevicePath(config);
    if (!config.Station.empty()) {
        server.Stations.push_back({config.Network, config.Station});
    }
    return server;
}

TWebConfig WebConfigOf(const TStationConfig& config) {
    TWebConfig web;
    std::string error;
    if (const std::optional<TListenAddress> listen = ParseListenAddress(config.Http, error)) {
        web.Listen = *listen;
    }
    web.Allow = ParseAddressRanges(config.HttpAllow, error).value_or(std::vector<TAddressRange>{});
    web.MaxConnections = config.HttpMaxConnections;
    web.RequestTimeoutSeconds = config.HttpRequestTimeout;
    web.IdleTimeoutSeconds = config.HttpIdleTimeout;
    web.WebRoot = config.HttpRoot.empty() ? InstalledWebRoot() : config.HttpRoot;
    web.Archive = config.Archive;
    web.DataSelectMaxBytes = uint64_t(config.HttpDataSelectMaxMB) << 20;
    web.Stations = StationSourceOf(config);
    web.StationXmlSource = std::string("digitizer-station ") + ProgramVersion;
    return web;
}

TWebSnapshot WebSnapshotOf(const TStationStatus& status, const std::string& refused,
                           const std::vector<TActiveAlarm>& alarms) {
    TWebSnapshot snapshot;
    snapshot.StatusJson = StatusJson(status);
    for (const auto& [name, value] : status.Extra) {
        if (name == "events") {
            snapshot.EventsJson = value;
        }
    }
    if (!refused.empty()) {
        snapshot.Health = "not recording: " + refused;
    } else if (status.LinkState != "receiving") {
        snapshot.Health = "not recording: the link is " + status.LinkState;
    } else if (!alarms.empty()) {
        snapshot.Health = "alarm:";
        for (const auto& alarm : alarms) {
            snapshot.Health += std::string(" ") + AlarmName(alarm.Kind);
        }
    } else {
        snapshot.Healthy = true;
        snapshot.Health = "ok";
    }
    return snapshot;
}

TChannelPlan ChannelPlanOf(const TStationConfig& config) {
    TChannelPlan plan;
    plan.Location = config.Location;
    if (config.Layout == TArchiveLayout::Periods) {
        // Its files name the channels P_0 ... P_5 and hold no state of health.
        for (int c = 0; c < MaxChannels; ++c) {
            plan.ChannelCodes[static_cast<size_t>(c)] = ChannelCode(c);
        }
        plan.Soh = false;
        plan.FixedCodes = true;
        plan.Sensors = config.Sensors;
        return plan;
    }
    for (size_t c = 0; c < config.ChannelCodes.size() && c < plan.ChannelCodes.size(); ++c) {
        plan.ChannelCodes[c] = config.ChannelCodes[c];
    }
    plan.Soh = config.Soh;
    plan.Sensors = config.Sensors;
    return plan;
}

TStationSource StationSourceOf(const TStationConfig& config) {
    TStationSource source;
    source.Archive = config.Archive;
    source.Network = config.Network;
    source.Station = config.Station;
    source.Location = config.Location;
    source.SiteName = config.SiteName;
    if (config.Latitude && config.Longitude) {
        source.Configured =
            TPosition{*config.Latitude, *config.Longitude, config.Elevation.value_or(0)};
    }
    return source;
}

std::string StationXmlOf(const TStationConfig& config, int64_t now,
                         std::vector<std::string>& notes) {
    const std::vector<TStationEntry> entries = LoadStationEntries(StationSourceOf(config), notes);
    return StationXmlDocument(config.Network, entries,
                              std::string("digitizer-station ") + ProgramVersion, now);
}

TStation::TStation(TStationConfig config, TLog log, TBlockIntake::TUtcClock now)
    : config_(std::move(config)),
      log_(std::move(log)),
      intake_(std::move(now)),
      recorder_(std::make_unique<TRecorder>(RecorderSettingsOf(config_))),
      statusPath_(config_.StatusFile.empty() ? DefaultStatusFile(config_) : config_.StatusFile),
      health_(config_, log_),
      started_(NowMicroseconds()) {}

TStation::~TStation() {
    Stop();
}

void TStation::Start() {
    OpenLink();
    StartNetwork();
    StartEvents(0);
    StartWeb();
    nextStatus_ = TClock::now();
    lastBlock_ = TClock::now();
}

TRecorderSettings TStation::RecorderSettings() const {
    TRecorderSettings settings = RecorderSettingsOf(config_, serialNumber_);
    settings.Sds.Spans = spans_;
    return settings;
}

void TStation::StartWeb() {
    web_.reset();
    spansReader_ = {};  // asked to stop and joined
    const bool keepSpans = !config_.Http.empty() && config_.Layout == TArchiveLayout::Sds;
    spans_ = keepSpans ? std::make_shared<TArchiveSpans>() : nullptr;
    // The writer adds to the new picture from now on; what is in the archive already is read
    // once (a record seen both ways counts once).
    recorder_->Configure(RecorderSettings());
    if (config_.Http.empty()) {
        return;
    }
    if (spans_) {
        // On a thread of its own: a large archive takes a while, and the loop must not wait.
        spansReader_ = std::jthread([spans = spans_, root = config_.Archive](std::stop_token stop) {
            spans->AddArchive(root, stop);
        });
    }
    TWebConfig web = WebConfigOf(config_);
    web.Snapshot = webSnapshot_;
    web.Spans = spans_;
    if (seedlink_) {
        TSeedLinkServer* server = seedlink_.get();  // outlives the HTTP server (Stop, Reconfigure)
        web.SeedLink = [server](int fd, const std::string& address,
                                const std::array<uint8_t, 16>& bytes) {
            return server->Adopt(fd, address, bytes);
        };
    }
    web_ = std::make_unique<TWebServer>(std::move(web));
    if (const TResult<void> started = web_->Start(); !started) {
        log_(started.Error().Text + "; recording goes on without it");
        lastError_ = started.Error().Text;
        lastErrorTime_ = NowMicroseconds();
        web_.reset();
        return;
    }
    const TWebConfig& serving = web_->Config();
    log_("HTTP: listening on " + (serving.Listen.Host.empty() ? "127.0.0.1" : serving.Listen.Host) +
         ":" + std::to_string(web_->Port()) +
         (serving.Allow.empty() ? "" : ", clients from " + AddressRangesText(serving.Allow)));
}

void TStation::StartNetwork() {
    if (!config_.SeedLink.empty()) {
        seedlink_ = std::make_unique<TSeedLinkServer>(SeedLinkConfigOf(config_));
        const TResult<void> started = seedlink_->Start();
        LogNetwork();
        if (!started) {
            log_(started.Error().Text + "; recording goes on without it");
            lastError_ = started.Error().Text;
            lastErrorTime_ = NowMicroseconds();
            seedlink_.reset();
        }
    }
    if (!config_.DataLink.empty()) {
        const TResult<TDataLinkAddress> address = ParseDataLinkAddress(config_.DataLink);
        if (address) {
            TDataLinkConfig dl;
            dl.Host = address->Host;
            dl.Port = address->Port;
            const auto mutex = datalinkLogMutex_;
            const auto lines = datalinkLog_;
            datalink_ =
                std::make_unique<TDataLinkClient>(dl, [mutex, lines](const std::string& line) {
                    std::lock_guard lock(*mutex);
                    if (lines->size() < 1000) {
                        lines->push_back("DataLink: " + line);
                    }
                });
            log_("DataLink: pushing records to " + config_.DataLink);
        }
    }
    if (seedlink_ || datalink_) {
        live_ = std::make_unique<TLiveRecords>(
            LiveSettingsOf(config_), [this](TLiveRecord record) { HandLive(std::move(record)); });
    }
}

void TStation::StartEvents(uint64_t lastId) {
    events_.reset();
    if (!config_.Events.Enabled) {
        return;
    }
    auto events = TStationEvents::Make(config_, log_, lastId);
    if (!events) {
        log_("no event detection: " + events.Error().Text);
        return;
    }
    events_ = std::move(*events);
    log_("detecting events on channels " + ChannelListText(config_.Events.Detector.Channels) +
         " into " + EventsFilePath(config_.Events, config_.Archive));
}

void TStation::HandLive(TLiveRecord record) {
    if (datalink_) {
        datalink_->Push(record);
    }
    if (seedlink_) {
        seedlink_->Push(record);
    }
}

void TStation::StopNetwork() {
    if (live_) {
        live_->EndAll();
        live_.reset();
    }
    if (seedlink_) {
        seedlink_->Stop();
    }
    if (datalink_) {
        datalink_->Stop(std::chrono::seconds(2));
    }
    LogNetwork();
}

void TStation::LogNetwork() {
    if (seedlink_) {
        for (const std::string& line : seedlink_->TakeLog()) {
            log_(line);
        }
    }
    std::vector<std::string> lines;
    {
        std::lock_guard lock(*datalinkLogMutex_);
        lines.swap(*datalinkLog_);
    }
    for (const std::string& line : lines) {
        log_(line);
    }
}

void TStation::OpenLink() {
    keeper_ = std::make_unique<TLinkKeeper>(
        [this](TDataBlock* block, uint32_t baud) { return queue_.Post(block, baud); });
    const uint8_t port = static_cast<uint8_t>(config_.Port > 0 ? config_.Port : 1);
    const std::string device = config_.Device;
    if (keeper_->Open(port, device, config_.Baud, TClock::now())) {
        linkState_ = config_.Baud == 0 ? "searching" : "waiting for blocks";
        log_("opened " + StationDevicePath(config_) + " at " +
             std::to_string(keeper_->BaudRate().value_or(0)) + " baud" +
             (config_.Baud == 0 ? " (searching the rate)" : ""));
    } else {
        linkState_ = "device gone";
        lastError_ = keeper_->LastOpenError();
        lastErrorTime_ = NowMicroseconds();
        log_("cannot open " + keeper_->LastOpenError() + "; waiting for it (" +
             SerialPortsInLine(ListSerialPorts()) + ")");
    }
}

void TStation::Turn(std::chrono::milliseconds wait) {
    for (auto [block, baud] : queue_.TakeAll(wait)) {
        if (IsComplete(*block)) {
            TakeBlock(*block, baud);
        }
        FreeBlock(block);
    }
    const TClock::time_point now = TClock::now();
    if (keeper_) {
        for (const TLinkKeeper::TEvent& event : keeper_->Service(now)) {
            log_(event.Text());
            switch (event.Kind) {
                case TLinkKeeper::TEventKind::Searching:
                    linkState_ = "searching at " + std::to_string(event.Baud) + " baud";
                    break;
                case TLinkKeeper::TEventKind::Restarted:
                    linkState_ = "silent; restarted at " + std::to_string(event.Baud) + " baud";
                    break;
                case TLinkKeeper::TEventKind::DeviceGone:
                case TLinkKeeper::TEventKind::OpenFailed:
                    linkState_ = "device gone";
                    lastError_ = event.Text();
                    lastErrorTime_ = NowMicroseconds();
                    break;
                case TLinkKeeper::TEventKind::DeviceBack:
                case TLinkKeeper::TEventKind::Reopened:
                    linkState_ = "waiting for blocks";
                    break;
            }
        }
    }
    LogNews();
    LogNetwork();
    if (events_) {
        events_->Service();
    }
    CheckHealth();
    if (now >= nextStatus_) {
        WriteStatus();
        nextStatus_ = now + StatusInterval;
    }
}

void TStation::TakeBlock(const TDataBlock& block, uint32_t baud) {
    ++blocksReceived_;
    lastBlock_ = TClock::now();
    linkState_ = "receiving";
    TIntakeBlock taken = intake_.Take(block, static_cast<int32_t>(baud));
    gaps_ += taken.Gap ? 1 : 0;
    // Frames that never arrived whole, counted by the unit's block numbers while it runs on.
    framesLost_ += taken.FramesLost;
    if (taken.FramesLost > 0) {
        log_(std::to_string(taken.FramesLost) + (taken.FramesLost == 1 ? " block" : " blocks") +
             " lost before block " + std::to_string(block.Header->BlockCount));
    }
    if (taken.CountRestarted) {
        ++powerCycles_;
        log_("the unit counts again from block " + std::to_string(block.Header->BlockCount) +
             ": power cycle");
    }
    if (taken.FormatChanged && blocksReceived_ > 1) {
        ++formatChanges_;
        log_("stream format now " + FormatText(taken.Format));
    }

    TRecordBlock& record = taken.Record;
    health_.Take(block, record);
    CheckHealth();
    if (!UnitMayRecord(record.SerialNumber)) {
        return;
    }
    KeepMetadata(taken, *block.Gps);
    if (live_) {
        live_->Take(record);
    }
    if (events_ && events_->Take(record, taken.Format.GainBits)) {
        nextStatus_ = TClock::now();  // the status shows an event as it starts and ends
    }
    recorder_->Take(std::move(record));
}

void TStation::CheckHealth() {
    const TClock::time_point now = TClock::now();
    if (now >= nextDiskCheck_) {
        nextDiskCheck_ = now + std::chrono::seconds(1);
        struct statvfs fs {};
        diskFreeMegabytes_.reset();
        if (statvfs(config_.Archive.c_str(), &fs) == 0) {
            diskFreeMegabytes_ = double(fs.f_bavail) * double(fs.f_frsize) / (1 << 20);
        }
    }
    const double silent = std::chrono::duration<double>(now - lastBlock_).count();
    if (health_.Check(NowMicroseconds(), silent, diskFreeMegabytes_)) {
        nextStatus_ = now;  // the status shows an alarm as it is raised and cleared
    }
}

void TStation::KeepMetadata(const TIntakeBlock& taken, const TGpsInfo& gps) {
    const TRecordBlock& record = taken.Record;
    // The station code the archive's files carry.
    const std::string station =
        config_.Layout == TArchiveLayout::Periods
            ? RecorderSettingsOf(config_, record.SerialNumber).Periods.Station
            : StationCodeOf(config_.Station, record.SerialNumber);
    const std::string path =
        MetadataPath(config_.Archive, config_.Network, station, config_.Location);
    if (path != metadataPath_) {
        metadataPath_ = path;
        metadata_.reset();
        fixes_ = TPositionFixes();
        TResult<std::optional<TStationMetadata>> loaded = LoadMetadata(path);
        if (!loaded) {
            // Never written over: what it held of earlier epochs would be lost.
            log_("the station's metadata is not kept: " + loaded.Error().Text);
            return;
        }
        metadata_ = loaded->value_or(
            TStationMetadata{config_.Network, station, config_.Location, std::nullopt, {}});
    }
    if (!metadata_) {
        return;
    }
    const std::vector<TChannelSetup> setups =
        ChannelSetups(ChannelPlanOf(config_), taken.Format, record.Soh.HasModuleTemperatures);
    bool changed = UpdateEpochs(metadata_->Epochs, setups, record.Time);
    if (!metadata_->GpsPosition) {
        if (const std::optional<TPosition> fix = PositionOf(gps); fix && fixes_.Add(*fix)) {
            metadata_->GpsPosition = fixes_.Steady();
            changed = true;
        }
    }
    if (!changed) {
        return;
    }
    if (const TStatus saved = SaveMetadata(path, *metadata_); !saved) {
        if (!metadataFailing_) {
            log_("cannot keep the station's metadata: " + saved.Error().Text);
        }
        metadataFailing_ = true;
    } else if (metadataFailing_) {
        metadataFailing_ = false;
        log_("the station's metadata is kept again: " + path);
    }
}

bool TStation::UnitMayRecord(const std::string& blockSerial) {
    // The short header carries the last four characters of the serial number, the enhanced
    // one all eight: the unit is known by those four, so that it stays one unit whichever
    // header it sends.
    const std::string serialNumber =
        blockSerial.size() > 4 ? blockSerial.substr(blockSerial.size() - 4) : blockSerial;
    if (serialNumber != serialNumber_) {
        if (!serialNumber_.empty()) {
            log_("the unit's serial number is now " + serialNumber);
        }
        serialNumber_ = serialNumber;
        recorder_->Configure(RecorderSettings());
        codesClaimed_ = false;
    }
    if (!codesClaimed_) {
        codesClaimed_ = true;
        refused_.clear();
        const TPeriodSettings codes = RecorderSettingsOf(config_, serialNumber_).Periods;
        const std::string name = codes.Network + "." + codes.Station + "." + codes.Location;
        const TArchiveClaim claim = ClaimArchiveCodes(config_.Archive, name, serialNumber_);
        if (!claim.Error.empty()) {
            log_("cannot tell which unit owns " + name + " in the archive: " + claim.Error +
                 "; recording anyway");
        } else if (claim.Owner != serialNumber_) {
            refused_ = name + " in " + config_.Archive + " belongs to unit " + claim.Owner +
                       ", not to this unit " + serialNumber_ +
                       ": nothing of this unit is recorded (give it its own Station= code)";
            log_("refused: " + refused_);
            lastError_ = refused_;
            lastErrorTime_ = NowMicroseconds();
        }
    }
    if (!refused_.empty()) {
        linkState_ = "refused: the codes are another unit's";
    }
    return refused_.empty();
}

void TStation::LogNews() {
    TRecordingNews news = recorder_->TakeNews();
    for (const std::string& line : news.Reports) {
        log_(line);
        lastError_ = line;
        lastErrorTime_ = NowMicroseconds();
    }
    for (const std::string& line : news.Notices) {
        log_(line);
    }
}

TStationStatus TStation::Status() const {
    TStationStatus status;
    status.Program = "digitizer-station";
    status.Version = ProgramVersion;
    status.Pid = static_cast<int>(getpid());
    status.StartedMicroseconds = started_;
    status.UpdatedMicroseconds = NowMicroseconds();
    status.Device = StationDevicePath(config_);
    if (keeper_ && keeper_->BaudRate()) {
        status.LineRate = *keeper_->BaudRate();
    }
    status.LinkState = linkState_;
    status.BlocksReceived = blocksReceived_;
    status.DamagedFrames = framesLost_;
    status.Gaps = gaps_;
    status.PowerCycles = powerCycles_;
    status.FormatChanges = formatChanges_;
    const TRecorderStats stats = recorder_->Stats();
    for (const TStreamStats& stream : stats.Streams) {
        TChannelStatus channel;
        channel.Code = stream.Id;
        channel.SamplesRecorded = stream.SamplesRecorded;
        if (stream.LastSample) {
            channel.LastSampleMicroseconds =
                stream.LastSample->Seconds * 1000000 + stream.LastSample->Ticks * 100;
        }
        status.Channels.push_back(std::move(channel));
    }
    status.Archive = config_.Archive;
    struct statvfs fs {};
    if (statvfs(config_.Archive.c_str(), &fs) == 0) {
        status.ArchiveFreeBytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    }
    status.QueuedBytes = static_cast<int64_t>(stats.HeldBytes);
    status.DroppedSamples = stats.DroppedSamples;
    status.FilesRemoved = stats.FilesRemoved;
    if (!lastError_.empty()) {
        status.LastError = lastError_;
        status.LastErrorMicroseconds = lastErrorTime_;
    }
    if (seedlink_) {
        status.Extra.push_back({"seedlink", SeedLinkStatusJson(seedlink_->Status())});
    }
    if (datalink_) {
        status.Extra.push_back(
            {"datalink", DataLinkStatusJson(config_.DataLink, datalink_->Status())});
    }
    if (events_) {
        status.Extra.push_back({"events", events_->StatusJson()});
    }
    for (auto& section : health_.StatusSections()) {
        status.Extra.push_back(std::move(section));
    }
    return status;
}

void TStation::WriteStatus(bool stopping) {
    TStationStatus status = Status();
    if (stopping) {
        status.LinkState = StoppedLinkState;
    }
    webSnapshot_->Set(WebSnapshotOf(status, refused_, health_.Alarms().Active()));
    std::string error;
    if (WriteStatusFile(statusPath_, status, error)) {
        if (statusFailing_) {
            log_("the status file is written again: " + statusPath_);
        }
        statusFailing_ = false;
    } else if (!statusFailing_) {
        statusFailing_ = true;
        log_("cannot write the status file: " + error);
    }
}

void TStation::Reconfigure(const TStationConfig& config) {
    const bool linkChanged = config.Device != config_.Device || config.Port != config_.Port ||
                             config.Baud != config_.Baud;
    const bool networkChanged = config.SeedLink != config_.SeedLink ||
                                config.SeedLinkRingMegabytes != config_.SeedLinkRingMegabytes ||
                                config.SeedLinkRingFile != config_.SeedLinkRingFile ||
                                config.SeedLinkAllow != config_.SeedLinkAllow ||
                                config.SeedLinkTrusted != config_.SeedLinkTrusted ||
                                config.SeedLinkMaxClients != config_.SeedLinkMaxClients ||
                                config.SeedLinkTimeout != config_.SeedLinkTimeout ||
                                config.DataLink != config_.DataLink ||
                                (config.SeedLink.empty() && config.DataLink.empty()
                                     ? false
                                     : SeedLinkRingPath(config) != SeedLinkRingPath(config_));
    // The HTTP server also starts again with the SeedLink server it hands WebSocket clients to;
    // its threads end before what they use goes.
    const bool webChanged =
        networkChanged || config.Http != config_.Http || config.HttpAllow != config_.HttpAllow ||
        config.HttpMaxConnections != config_.HttpMaxConnections ||
        config.HttpRequestTimeout != config_.HttpRequestTimeout ||
        config.HttpIdleTimeout != config_.HttpIdleTimeout || config.HttpRoot != config_.HttpRoot ||
        config.HttpDataSelectMaxMB != config_.HttpDataSelectMaxMB ||
        config.Archive != config_.Archive;
    if (webChanged) {
        web_.reset();
    }
    if (networkChanged) {
        // The server syncs its ring and starts again under the new settings.
        StopNetwork();
        seedlink_.reset();
        datalink_.reset();
    }
    // The detector starts afresh only when its settings or the names it writes change.
    const bool eventsChanged =
        !(config.Events == config_.Events) || config.Network != config_.Network ||
        config.Sensors != config_.Sensors || config.Station != config_.Station ||
        config.Archive != config_.Archive ||
        StationDevicePath(config) != StationDevicePath(config_);
    if (eventsChanged && events_) {
        events_->Stop();
    }
    config_ = config;
    health_.Configure(config_);
    if (networkChanged) {
        StartNetwork();
    } else if (live_) {
        live_->Configure(LiveSettingsOf(config_));
    }
    if (webChanged) {
        StartWeb();
    }
    if (eventsChanged) {
        StartEvents(events_ ? events_->LastId() : 0);
    } else if (events_) {
        events_->Reopen();
    }
    statusPath_ = config_.StatusFile.empty() ? DefaultStatusFile(config_) : config_.StatusFile;
    codesClaimed_ = false;  // the codes or the archive may be others now
    metadataPath_.clear();  // and so may the metadata's file
    recorder_->Configure(RecorderSettings());
    // The files are closed so that the next records open them afresh (rotated or moved ones
    // too).
    recorder_->Close();
    if (linkChanged && keeper_) {
        keeper_->Close();
        OpenLink();
    }
    log_("configuration read again");
}

void TStation::Stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    web_.reset();
    spansReader_ = {};
    if (keeper_) {
        keeper_->Close();
    }
    for (auto [block, baud] : queue_.TakeAll(std::chrono::milliseconds(0))) {
        if (IsComplete(*block)) {
            TakeBlock(*block, baud);
        }
        FreeBlock(block);
    }
    StopNetwork();
    if (events_) {
        events_->Stop();
    }
    health_.Stop();
    recorder_->Finish();
    recorder_->Drain();
    LogNews();
    WriteStatus(true);
}
