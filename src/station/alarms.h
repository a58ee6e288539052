// The station's alarms: the [Alarms] section of its configuration (every key also an option)
// and the rule that raises and clears them.
//
// The rule (TAlarmEvaluator) is pure: it is given the unit's health as values and the time,
// and says which alarms were raised and which cleared. An alarm is raised when its value goes
// past its threshold (below SupplyBelow, above SupplyAbove, and so on) and cleared only when
// the value is back past the threshold by the alarm's hysteresis band (HysteresisOf): 0.2 V
// for the supply, 2 deg C for the temperature, 10 % of the threshold for the disk's free
// space, 10 points of timing quality (no higher than 100). A value that hovers at the threshold
// therefore raises its alarm once and clears it once. The durations (GPS unlocked, no data) need no
// band: their value only grows while the streak lasts and falls to nothing when it ends, so each
// streak raises once (when it outlasts the threshold) and clears once (when it ends). A value that
// is not known (no block yet, no disk figure) leaves its alarm as it is.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class TAlarmKind {
    SupplyLow,
    SupplyHigh,
    TemperatureHigh,
    GpsUnlocked,
    NoData,
    DiskFreeLow,
    TimingQualityLow,
};
inline constexpr size_t AlarmKindCount = 7;

// The alarm's name in the log, the status and the command's environment ("supply_low").
const char* AlarmName(TAlarmKind kind);
// The unit of its value and threshold ("V", "deg C", "s", "MB", "").
const char* AlarmUnit(TAlarmKind kind);
// How far back past the threshold the value must come for the alarm to clear.
double HysteresisOf(TAlarmKind kind, double threshold);

struct TAlarmConfig {
    // The thresholds, by TAlarmKind; none: that alarm is off. The defaults suit a station
    // on a 12 V battery: below 10.5 V the battery is nearly empty, above 15 V its charger
    // is faulty; the electronics are rated to 60 deg C; an hour without a GPS fix lets the
    // unit's clock drift by more than a sample at the highest rates; a minute without a
    // block is more than the link's own restarts take; 1 GB of free disk is about two days
    // of six channels at 100 sps. The timing quality (0 to 100) has no alarm by default.
    std::array<std::optional<double>, AlarmKindCount> Thresholds{10.5, 15,   60,          3600,
                                                                 60,   1024, std::nullopt};
    // Run at every alarm raised and cleared, split into words by SplitCommand; empty: none.
    std::string Command;
    int CommandSeconds = 60;  // the command's time limit, 1..3600

    bool operator==(const TAlarmConfig&) const = default;
};

inline constexpr char AlarmSectionName[] = "Alarms";

// One key of the [Alarms] section: its name in the file, its option, how a value is taken (the
// reason for a refusal, empty when taken) and how the value in force is written.
struct TAlarmKey {
    const char* IniName;
    const char* Option;
    std::function<std::string(TAlarmConfig&, const std::string&)> Set;
    std::function<std::string(const TAlarmConfig&)> Get;
};

// The keys in the order --print-config writes them: one per threshold ("off" turns the alarm
// off), then OnAlarm and OnAlarmSeconds.
const std::vector<TAlarmKey>& AlarmKeys();

// What the evaluator is given: every value that is known at `Now`.
struct TAlarmInputs {
    int64_t Now = 0;  // UTC microseconds since 1970
    std::array<std::optional<double>, AlarmKindCount> Values{};

    TAlarmInputs& Set(TAlarmKind kind, std::optional<double> value) {
        Values[size_t(kind)] = value;
        return *this;
    }
};

// An alarm raised or cleared.
struct TAlarmChange {
    TAlarmKind Kind = TAlarmKind::SupplyLow;
    bool Raised = false;  // else cleared
    double Value = 0;     // at the change
    double Threshold = 0;
    int64_t Since = 0;  // when it was raised, UTC microseconds

    bool operator==(const TAlarmChange&) const = default;
};

// An alarm that stands.
struct TActiveAlarm {
    TAlarmKind Kind = TAlarmKind::SupplyLow;
    double Value = 0;  // the latest, or the one at the raise when none is known since
    double Threshold = 0;
    int64_t Since = 0;
};

class TAlarmEvaluator {
  public:
    explicit TAlarmEvaluator(const TAlarmConfig& config = {}) : config_(config) {}

    // New thresholds; an alarm that is now off is cleared by the next Evaluate.
    void Configure(const TAlarmConfig& config) { config_ = config; }
    // The alarms raised and cleared by the values at `inputs.Now`, in the order of TAlarmKind.
    std::vector<TAlarmChange> Evaluate(const TAlarmInputs& inputs);
    // The alarms that stand, in the order of TAlarmKind.
    std::vector<TActiveAlarm> Active() const;

  private:
    TAlarmConfig config_;
    std::array<std::optional<TActiveAlarm>, AlarmKindCount> active_{};
};

// A number as the log and the command's environment give it: at most 3 decimals, no trailing
// zeros ("10.4", "3600").
std::string AlarmNumberText(double value);
