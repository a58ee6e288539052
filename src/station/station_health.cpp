#include "station/station_health.h"

#include <algorithm>
#include <cmath>

#include "base/json_text.h"
#include "station/status_file.h"

namespace {

using TJson = nlohmann::ordered_json;

// To `scale` parts of one (1000: three decimals), written as its shortest decimal text.
double Rounded(double value, double scale) {
    return std::round(value * scale) / scale;
}

// Decimal degrees, south and west negative; none without a date (no position received).
TJson Degrees(const TGpsInfo& gps, int degrees, double minutes, char hemisphere) {
    if (gps.Day == 0 || !std::isfinite(minutes)) {
        return nullptr;
    }
    const double value = degrees + minutes / 60;
    return Rounded(hemisphere == 'S' || hemisphere == 'W' ? -value : value, 1e6);
}

TJson TimeJson(int64_t microseconds) {
    return IsoUtcText(microseconds);
}

}  // namespace

TStationHealth::TStationHealth(const TStationConfig& config, TLog log) : log_(std::move(log)) {
    Configure(config);
}

TStationHealth::~TStationHealth() {
    Stop();
}

void TStationHealth::Configure(const TStationConfig& config) {
    device_ = StationDevicePath(config);
    evaluator_.Configure(config.Alarms);
    const bool commandChanged = config.Alarms.Command != config_.Command ||
                                config.Alarms.CommandSeconds != config_.CommandSeconds;
    config_ = config.Alarms;
    if (commandChanged || (!command_ && !config_.Command.empty())) {
        if (command_ && command_->Running()) {
            Log(command_->Stop());
        }
        command_.reset();
        waiting_.clear();
        if (auto words = SplitCommand(config_.Command); words && !config_.Command.empty()) {
            command_ = std::make_unique<TEventCommand>(std::move(*words),
                                                       std::chrono::seconds(config_.CommandSeconds),
                                                       std::chrono::seconds(5), "on-alarm");
        }
    }
}

void TStationHealth::Take(const TDataBlock& block, const TRecordBlock& record) {
    header_ = *block.Header;
    gps_ = *block.Gps;
    if (!have_) {
        firstTime_ = record.Time;
    }
    have_ = true;
    blockTime_ = record.Time;
    clockLocked_ = record.ClockLocked;
    timingQuality_ = TimingQualityOf(record);
    // As the unit reports it: a valid fix carried by this very block.
    fix_ = gps_.Present != 0 && gps_.FixValid != 0 &&
           header_.LastValidGpsBlock == int32_t(header_.BlockCount);
    if (fix_) {
        lastFixTime_ = record.Time;
    } else if (header_.LastValidGpsBlock >= 0 &&
               uint32_t(header_.LastValidGpsBlock) <= header_.BlockCount) {
        const int64_t fixTime =
            record.Time - int64_t(header_.BlockCount - uint32_t(header_.LastValidGpsBlock));
        if (!lastFixTime_ || fixTime > *lastFixTime_) {
            lastFixTime_ = fixTime;
        }
    }
}

bool TStationHealth::Check(int64_t now, std::optional<double> noDataSeconds,
                           std::optional<double> diskFreeMegabytes) {
    TAlarmInputs inputs;
    inputs.Now = now;
    inputs.Set(TAlarmKind::NoData, noDataSeconds).Set(TAlarmKind::DiskFreeLow, diskFreeMegabytes);
    if (have_) {
        double hottest = header_.SensorTemp;
        for (int c = 0; c < MaxChannels && header_.HasMde != 0; ++c) {
            hottest = std::max(hottest, header_.ModuleTemp[c]);
        }
        const int64_t unlocked = blockTime_ - lastFixTime_.value_or(firstTime_);
        inputs.Set(TAlarmKind::SupplyLow, header_.SupplyVoltage)
            .Set(TAlarmKind::SupplyHigh, header_.SupplyVoltage)
            .Set(TAlarmKind::TemperatureHigh, hottest)
            .Set(TAlarmKind::GpsUnlocked, fix_ ? 0.0 : double(std::max<int64_t>(unlocked, 0)))
            .Set(TAlarmKind::TimingQualityLow, double(timingQuality_));
    }
    const std::vector<TAlarmChange> changes = evaluator_.Evaluate(inputs);
    for (const TAlarmChange& change : changes) {
        Changed(change, now);
    }
    Service();
    return !changes.empty();
}

void TStationHealth::Changed(const TAlarmChange& change, int64_t now) {
    const std::string name = AlarmName(change.Kind);
    const std::string unit = AlarmUnit(change.Kind);
    const std::string value = AlarmNumberText(change.Value);
    const std::string threshold = AlarmNumberText(change.Threshold);
    const std::string space = unit.empty() ? "" : " ";
    if (change.Raised) {
        ++raised_;
        log_("alarm " + name + " raised: " + value + space + unit + ", threshold " + threshold +
             space + unit);
    } else {
        ++cleared_;
        log_("alarm " + name + " cleared: " + value + space + unit + ", threshold " + threshold +
             space + unit + "; raised at " + IsoUtcText(change.Since));
    }
    recent_.push_back({change, now});
    while (recent_.size() > RecentCount) {
        recent_.pop_front();
    }
    if (!command_) {
        return;
    }
    if (waiting_.size() >= MaxWaiting) {
        log_("the on-alarm command is not run for alarm " + name + ": " +
             std::to_string(MaxWaiting) + " are waiting already");
        return;
    }
    waiting_.push_back({"alarm " + name + (change.Raised ? " raised" : " cleared"),
                        {{"ALARM_NAME", name},
                         {"ALARM_STATE", change.Raised ? "raised" : "cleared"},
                         {"ALARM_VALUE", value},
                         {"ALARM_THRESHOLD", threshold},
                         {"ALARM_UNIT", unit},
                         {"ALARM_SINCE", IsoUtcText(change.Since)},
                         {"ALARM_TIME", IsoUtcText(now)},
                         {"ALARM_DEVICE", device_}}});
}

void TStationHealth::Service() {
    if (!command_) {
        return;
    }
    Log(command_->Service(TEventCommand::TClock::now()));
    while (!command_->Running() && !waiting_.empty()) {
        const auto [what, values] = waiting_.front();
        waiting_.pop_front();
        log_(command_->Start(what, values, TEventCommand::TClock::now()));
    }
}

void TStationHealth::Stop() {
    if (command_) {
        Log(command_->Stop());
    }
    if (!waiting_.empty()) {
        log_("the on-alarm command is not run for " + std::to_string(waiting_.size()) +
             " alarm changes: the station stops");
        waiting_.clear();
    }
}

void TStationHealth::Log(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        log_(line);
    }
}

std::vector<std::pair<std::string, std::string>> TStationHealth::StatusSections() const {
    std::vector<std::pair<std::string, std::string>> sections;
    if (have_) {
        const TGpsInfo& g = gps_;
        const bool reports = g.Present != 0 && g.Source == 2;
        TJson modules = nullptr;
        if (header_.HasMde != 0) {
            modules = TJson::array();
            for (const double t : header_.ModuleTemp) {
                modules.push_back(Rounded(t, 10));
            }
        }
        const TJson gps = {
            {"form", g.Present == 0 ? "none"
                     : reports      ? "reports"
                                    : "sentence"},
            {"fix", fix_},
            {"satellites", reports ? TJson(g.SvCount) : TJson()},
            {"latitude", Degrees(g, g.LatDegrees, g.LatMinutes, g.LatHemisphere)},
            {"longitude", Degrees(g, g.LonDegrees, g.LonMinutes, g.LonHemisphere)},
            {"altitude_m", reports && g.Day != 0 ? TJson(g.Altitude) : TJson()},
            {"last_fix_utc", lastFixTime_ ? TimeJson(*lastFixTime_ * 1000000) : TJson()},
            {"last_fix_age_s", lastFixTime_ ? TJson(blockTime_ - *lastFixTime_) : TJson()}};
        const char* clock = clockLocked_               ? "gps"
                            : GpsTimeOf(g).has_value() ? "gps-no-fix"
                                                       : "free-running";
        sections.push_back(
            {"health", JsonText(TJson{{"block_utc", TimeJson(blockTime_ * 1000000)},
                                      {"supply_volts", Rounded(header_.SupplyVoltage, 1000)},
                                      {"supply_milliamps", Rounded(header_.SupplyCurrent, 100)},
                                      {"sensor_celsius", Rounded(header_.SensorTemp, 10)},
                                      {"module_celsius", modules},
                                      {"clock_source", clock},
                                      {"timing_quality", timingQuality_},
                                      {"gps", gps}})});
    }
    TJson alarms = TJson::array();
    for (const TActiveAlarm& a : evaluator_.Active()) {
        alarms.push_back({{"name", AlarmName(a.Kind)},
                          {"value", Rounded(a.Value, 1000)},
                          {"threshold", a.Threshold},
                          {"unit", AlarmUnit(a.Kind)},
                          {"since_us", a.Since},
                          {"since_utc", IsoUtcText(a.Since)}});
    }
    sections.push_back({"alarms", JsonText(alarms)});
    TJson log = {{"raised", raised_},
                 {"cleared", cleared_},
                 {"command", config_.Command},
                 {"commands_started", command_ ? command_->Started() : 0},
                 {"commands_failed", command_ ? command_->Failed() : 0},
                 {"commands_waiting", waiting_.size()}};
    TJson& recent = log["recent"] = TJson::array();
    for (const TRecentChange& r : recent_) {
        recent.push_back({{"name", AlarmName(r.Change.Kind)},
                          {"state", r.Change.Raised ? "raised" : "cleared"},
                          {"value", Rounded(r.Change.Value, 1000)},
                          {"threshold", r.Change.Threshold},
                          {"since_utc", IsoUtcText(r.Change.Since)},
                          {"at_utc", IsoUtcText(r.At)}});
    }
    sections.push_back({"alarm_log", JsonText(log)});
    return sections;
}
