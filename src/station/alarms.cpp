#include "station/alarms.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "station/event_config.h"

namespace {

struct TKindInfo {
    const char* Name;
    const char* Unit;
    bool Below;  // raised below the threshold, else above it
    const char* IniName;
    const char* Option;
    double Min, Max;  // of the threshold
};

// clang-format off
constexpr TKindInfo Kinds[AlarmKindCount] = {
    {"supply_low", "V", true, "SupplyBelow", "--alarm-supply-below", 0, 100},
    {"supply_high", "V", false, "SupplyAbove", "--alarm-supply-above", 0, 100},
    {"temperature_high", "deg C", false, "TemperatureAbove", "--alarm-temperature-above", -50, 200},
    {"gps_unlocked", "s", false, "GpsUnlockedSeconds", "--alarm-gps-unlocked", 1, 31622400},
    {"no_data", "s", false, "NoDataSeconds", "--alarm-no-data", 1, 31622400},
    {"disk_free_low", "MB", true, "DiskFreeBelowMB", "--alarm-disk-free-below", 0, 1e9},
    {"timing_quality_low", "", true, "TimingQualityBelow", "--alarm-timing-quality-below", 0, 100},
};
// clang-format on

const TKindInfo& Info(TAlarmKind kind) {
    return Kinds[size_t(kind)];
}

TAlarmKey ThresholdKey(TAlarmKind kind) {
    const TKindInfo& info = Info(kind);
    const size_t k = size_t(kind);
    return TAlarmKey{info.IniName, info.Option,
                     [info, k](TAlarmConfig& c, const std::string& v) -> std::string {
                         double number = 0;
                         if (v == "off") {
                             c.Thresholds[k].reset();
                         } else if (ParseConfigNumber(v, info.Min, info.Max, number)) {
                             c.Thresholds[k] = number;
                         } else {
                             return "must be " + ConfigNumberText(info.Min) + " to " +
                                    ConfigNumberText(info.Max) + (*info.Unit ? " " : "") +
                                    info.Unit + ", or off";
                         }
                         return "";
                     },
                     [k](const TAlarmConfig& c) {
                         return c.Thresholds[k] ? ConfigNumberText(*c.Thresholds[k])
                                                : std::string("off");
                     }};
}

}  // namespace

const char* AlarmName(TAlarmKind kind) {
    return Info(kind).Name;
}

const char* AlarmUnit(TAlarmKind kind) {
    return Info(kind).Unit;
}

double HysteresisOf(TAlarmKind kind, double threshold) {
    switch (kind) {
        case TAlarmKind::SupplyLow:
        case TAlarmKind::SupplyHigh:
            return 0.2;
        case TAlarmKind::TemperatureHigh:
            return 2;
        case TAlarmKind::DiskFreeLow:
            return 0.1 * threshold;
        case TAlarmKind::TimingQualityLow:
            // No further than the top: a quality of 100 always clears it.
            return std::min(10.0, std::max(0.0, 100 - threshold));
        case TAlarmKind::GpsUnlocked:
        case TAlarmKind::NoData:
            break;
    }
    return 0;
}

const std::vector<TAlarmKey>& AlarmKeys() {
    static const std::vector<TAlarmKey> keys = [] {
        std::vector<TAlarmKey> list;
        for (size_t k = 0; k < AlarmKindCount; ++k) {
            list.push_back(ThresholdKey(TAlarmKind(k)));
        }
        list.push_back({"OnAlarm", "--on-alarm",
                        [](TAlarmConfig& c, const std::string& v) {
                            std::string problem = CommandTextProblem(v);
                            if (problem.empty()) {
                                c.Command = v;
                            }
                            return problem;
                        },
                        [](const TAlarmConfig& c) { return c.Command; }});
        list.push_back({"OnAlarmSeconds", "--on-alarm-seconds",
                        [](TAlarmConfig& c, const std::string& v) -> std::string {
                            long seconds = 0;
                            if (!ParseConfigWhole(v, 1, 3600, seconds)) {
                                return "must be 1 to 3600 seconds";
                            }
                            c.CommandSeconds = int(seconds);
                            return "";
                        },
                        [](const TAlarmConfig& c) { return std::to_string(c.CommandSeconds); }});
        return list;
    }();
    return keys;
}

std::vector<TAlarmChange> TAlarmEvaluator::Evaluate(const TAlarmInputs& inputs) {
    std::vector<TAlarmChange> changes;
    for (size_t k = 0; k < AlarmKindCount; ++k) {
        const TAlarmKind kind = TAlarmKind(k);
        const std::optional<double>& threshold = config_.Thresholds[k];
        const std::optional<double>& value = inputs.Values[k];
        std::optional<TActiveAlarm>& active = active_[k];
        if (!threshold) {
            if (active) {  // turned off
                changes.push_back({kind, false, active->Value, active->Threshold, active->Since});
                active.reset();
            }
            continue;
        }
        if (!value) {
            continue;
        }
        const bool below = Info(kind).Below;
        if (!active) {
            if (below ? *value < *threshold : *value > *threshold) {
                active = TActiveAlarm{kind, *value, *threshold, inputs.Now};
                changes.push_back({kind, true, *value, *threshold, inputs.Now});
            }
            continue;
        }
        active->Value = *value;
        active->Threshold = *threshold;  // a new threshold takes effect for the clearing too
        const double band = HysteresisOf(kind, *threshold);
        const bool clear = below ? *value >= *threshold + band : *value <= *threshold - band;
        if (clear) {
            changes.push_back({kind, false, *value, *threshold, active->Since});
            active.reset();
        }
    }
    return changes;
}

std::vector<TActiveAlarm> TAlarmEvaluator::Active() const {
    std::vector<TActiveAlarm> list;
    for (const std::optional<TActiveAlarm>& alarm : active_) {
        if (alarm) {
            list.push_back(*alarm);
        }
    }
    return list;
}

std::string AlarmNumberText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", std::round(value * 1000) / 1000);
    std::string out = text;
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.') {
        out.pop_back();
    }
    return out == "-0" ? "0" : out;
}
