#include "station/station_events.h"

#include <cmath>
#include <cstdio>

#include "base/json_text.h"

#include "recording/stream_codes.h"

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string EpochText(const TSampleTime& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%lld.%06d", static_cast<long long>(time.Seconds),
                  time.Nanoseconds / 1000);
    return text;
}

}  // namespace

TResult<std::unique_ptr<TStationEvents>> TStationEvents::Make(const TStationConfig& config,
                                                              TLog log, uint64_t lastId) {
    if (const std::string problem = CheckEventConfig(config.Events); !problem.empty()) {
        return TError{problem};
    }
    TResult<TEventDetector> detector = TEventDetector::Make(config.Events.Detector);
    if (!detector) {
        return detector.Error();
    }
    if (!config.Events.Command.empty()) {
        if (const auto words = SplitCommand(config.Events.Command); !words) {
            return TError{"--on-event: " + words.Error().Text};
        }
    }
    return std::unique_ptr<TStationEvents>(
        new TStationEvents(config, std::move(log), std::move(*detector), lastId));
}

TStationEvents::TStationEvents(const TStationConfig& config, TLog log, TEventDetector detector,
                               uint64_t lastId)
    : config_(config.Events),
      log_(std::move(log)),
      detector_(std::move(detector)),
      network_(config.Network),
      station_(config.Station),
      location_(config.Location),
      device_(StationDevicePath(config)),
      sensors_(config.Sensors),
      firstId_(lastId),
      lastId_(lastId),
      file_(EventsFilePath(config.Events, config.Archive)) {
    for (size_t c = 0; c < config.ChannelCodes.size() && c < channelCodes_.size(); ++c) {
        channelCodes_[c] = config.ChannelCodes[c];
    }
    if (!config_.CsvFile.empty()) {
        csv_ = std::make_unique<TAppendFile>(config_.CsvFile, EventCsvHeader());
    }
    if (!config_.Command.empty()) {
        if (auto words = SplitCommand(config_.Command)) {
            command_ = std::make_unique<TEventCommand>(
                std::move(*words), std::chrono::seconds(config_.CommandSeconds));
        }
    }
}

bool TStationEvents::Take(const TRecordBlock& block, int32_t gainBits) {
    const TDetectorNews news = detector_.Take(block, gainBits);
    if (!news.Restart.empty()) {
        log_("event detection starts afresh: " + news.Restart);
    }
    if (detector_.Idle() != idle_) {
        idle_ = detector_.Idle();
        log_(idle_.empty() ? std::string("event detection runs again")
                           : "no event can be detected: " + idle_);
    }
    if (news.Events.empty()) {
        return false;
    }
    TEventPlace place{network_, StationCodeOf(station_, block.SerialNumber), sensors_, {}};
    const std::vector<TStreamCode> codes =
        DataStreamCodes(channelCodes_, location_, block.ChannelCount, block.SampleRate);
    for (size_t c = 0; c < codes.size(); ++c) {
        place.SeedIds[c] =
            place.Network + "." + place.Station + "." + codes[c].Location + "." + codes[c].Channel;
    }
    place_ = place;
    for (const TEventNews& n : news.Events) {
        const uint64_t id = firstId_ + n.Event.Id;
        if (n.Kind == TEventNews::TKind::Started) {
            Started(n.Event, id, place);
        } else {
            Ended(n.Event, id, place);
        }
    }
    return true;
}

void TStationEvents::Started(const TEvent& event, uint64_t id, const TEventPlace& place) {
    lastId_ = id;
    ++detected_;
    TRecentEvent recent;
    recent.Id = id;
    recent.Start = event.Start;
    recent.Channels = TriggeredChannelText(event);
    recent.PeakRatio = TriggeredPeakRatio(event);
    recent_.push_back(recent);
    while (recent_.size() > RecentCount) {
        recent_.pop_front();
    }
    recent.Calibration = event.Calibration;
    log_("event " + std::to_string(id) + " started at " + FormatSampleTime(event.Start) +
         " on channels " + recent.Channels + " (STA/LTA " + Fixed(recent.PeakRatio, 2) + ")" +
         (event.Calibration ? ", while the unit calibrates" : ""));
    Write(file_, fileFailing_, EventStartJson(event, id, place));
    if (command_) {
        const TEventCommand::TValues values = {
            {"EVENT_ID", std::to_string(id)},
            {"EVENT_START", FormatSampleTime(event.Start)},
            {"EVENT_START_EPOCH", EpochText(event.Start)},
            {"EVENT_CHANNELS", recent.Channels},
            {"EVENT_PEAK_RATIO", Fixed(recent.PeakRatio, 3)},
            {"EVENT_SAMPLE_RATE", Fixed(event.SampleRate, 6)},
            {"EVENT_NETWORK", place.Network},
            {"EVENT_STATION", place.Station},
            {"EVENT_SEED_IDS", TriggeredSeedIds(event, place, ',')},
            {"EVENT_DEVICE", device_},
            {"EVENT_FILE", file_.Path()},
            {"EVENT_COINCIDENCE", FormatSampleTime(event.Coincidence)},
            {"EVENT_CALIBRATION", event.Calibration ? "yes" : "no"},
        };
        log_(command_->Start("event " + std::to_string(id), values, TEventCommand::TClock::now()));
    }
}

void TStationEvents::Ended(const TEvent& event, uint64_t id, const TEventPlace& place) {
    for (TRecentEvent& recent : recent_) {
        if (recent.Id == id) {
            recent.End = event.End;
            recent.Cut = event.Cut;
            recent.Channels = TriggeredChannelText(event);
            recent.PeakRatio = event.PeakRatio;
            recent.Calibration = event.Calibration;
            recent.Clipped = event.Clipped();
        }
    }
    log_("event " + std::to_string(id) + " ended at " + FormatSampleTime(event.End) + " after " +
         Fixed(event.Seconds(), 2) + " s" +
         (event.Cut ? " (cut short by a change of stream)" : "") + ": channels " +
         TriggeredChannelText(event) + " triggered, peak STA/LTA " + Fixed(event.PeakRatio, 2) +
         (event.Clipped() ? ", clipped" : "") + (event.Calibration ? ", a calibration" : ""));
    Write(file_, fileFailing_, EventEndJson(event, id, place));
    if (csv_) {
        Write(*csv_, csvFailing_, EventCsvRow(event, id, place));
    }
}

void TStationEvents::Write(TAppendFile& file, bool& failing, const std::string& line) {
    const TStatus written = file.Append(line);
    if (written && failing) {
        log_("the events are written again to " + file.Path());
    } else if (!written && !failing) {
        log_("cannot write the events: " + written.Error().Text +
             "; recording goes on (said once until it works again)");
    }
    failing = !written;
}

void TStationEvents::Service() {
    if (command_) {
        for (const std::string& line : command_->Service(TEventCommand::TClock::now())) {
            log_(line);
        }
    }
}

void TStationEvents::Reopen() {
    file_.Close();
    if (csv_) {
        csv_->Close();
    }
}

void TStationEvents::Stop() {
    // An event that had ended but for its hold is written whole.
    for (const TEventNews& n : detector_.EndHeld().Events) {
        Ended(n.Event, firstId_ + n.Event.Id, place_);
    }
    if (detector_.InEvent()) {
        log_("event " + std::to_string(lastId_) +
             " was still running: its end is not in the events file");
    }
    if (command_) {
        for (const std::string& line : command_->Stop()) {
            log_(line);
        }
    }
    Reopen();
}

std::string TStationEvents::StatusJson() const {
    const char* state = !idle_.empty() ? "idle" : detector_.InEvent() ? "in event" : "detecting";
    nlohmann::ordered_json json = {
        {"state", state},       {"idle_reason", idle_},        {"detected", detected_},
        {"file", file_.Path()}, {"csv_file", config_.CsvFile}, {"command", config_.Command}};
    if (command_) {
        json["commands_started"] = command_->Started();
        json["commands_skipped"] = command_->Skipped();
        json["commands_failed"] = command_->Failed();
        json["command_running"] = command_->Running();
    }
    nlohmann::ordered_json& recent = json["recent"] = nlohmann::ordered_json::array();
    for (const TRecentEvent& e : recent_) {
        const auto rounded = [](double value) { return std::round(value * 1000) / 1000; };
        recent.push_back(
            {{"id", e.Id},
             {"start", FormatSampleTime(e.Start)},
             {"end", e.End ? nlohmann::ordered_json(FormatSampleTime(*e.End)) : nullptr},
             {"duration",
              e.End ? nlohmann::ordered_json(rounded(SecondsBetween(e.Start, *e.End))) : nullptr},
             {"cut", e.Cut},
             {"channels", e.Channels},
             {"peak_ratio", rounded(e.PeakRatio)},
             {"calibration", e.Calibration},
             {"clipped", e.Clipped}});
    }
    return JsonText(json);
}
