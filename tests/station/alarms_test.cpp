// The alarm rule: each alarm raised once when its value goes past its threshold and cleared
// once when it is back past the hysteresis band (or the streak ends), a value hovering at the
// threshold not flapping, an unknown value leaving the alarm as it is, an alarm turned off
// cleared; and the [Alarms] keys.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "station/alarms.h"
#include "station/station_config.h"

namespace {

constexpr int64_t Second = 1000000;
constexpr int64_t T0 = 1735689600LL * Second;
const std::optional<double> None;

struct TRow {
    const char* What;
    TAlarmKind Kind;
    double Threshold;
    std::vector<std::optional<double>> Values;  // one evaluation a second
    // The changes: "R3" raised at the value of index 3, "C5" cleared at index 5, joined by ' '.
    std::string Expected;
};

// Every change of the evaluator for the values, as "R3 C5", checking each change's fields.
std::string RunRow(const TRow& row) {
    TAlarmConfig config;
    config.Thresholds.fill(std::nullopt);
    config.Thresholds[size_t(row.Kind)] = row.Threshold;
    TAlarmEvaluator evaluator(config);
    std::string out;
    int64_t raisedAt = -1;
    bool standing = false;
    for (size_t i = 0; i < row.Values.size(); ++i) {
        const int64_t now = T0 + int64_t(i) * Second;
        TAlarmInputs inputs;
        inputs.Now = now;
        inputs.Set(row.Kind, row.Values[i]);
        for (const TAlarmChange& change : evaluator.Evaluate(inputs)) {
            EXPECT_EQ(change.Kind, row.Kind) << row.What;
            EXPECT_EQ(change.Threshold, row.Threshold) << row.What;
            EXPECT_EQ(change.Value, *row.Values[i]) << row.What << " at " << i;
            EXPECT_NE(change.Raised, standing) << row.What << ": raised or cleared twice";
            standing = change.Raised;
            if (change.Raised) {
                raisedAt = now;
            }
            EXPECT_EQ(change.Since, raisedAt) << row.What << ": since is when it was raised";
            out += (out.empty() ? "" : " ") + std::string(change.Raised ? "R" : "C") +
                   std::to_string(i);
        }
        EXPECT_EQ(evaluator.Active().size(), standing ? 1u : 0u) << row.What << " at " << i;
    }
    return out;
}

}  // namespace

TEST(AlarmRule, RaisedOnceAndClearedOncePerStreakForEveryKind) {
    using K = TAlarmKind;
    const std::vector<TRow> rows = {
        {"supply falls below and comes back past the band",
         K::SupplyLow,
         10.5,
         {12, 11, 10.4, 10, 10.6, 10.69, 10.71, 12},
         "R2 C6"},
        {"supply at the threshold is not below it", K::SupplyLow, 10.5, {10.5, 10.5}, ""},
        {"supply hovering at the threshold raises once, clears once",
         K::SupplyLow,
         10.5,
         {10.49, 10.51, 10.49, 10.55, 10.45, 10.6, 10.49, 10.8, 10.5, 10.49},
         "R0 C7 R9"},
        {"supply above", K::SupplyHigh, 15, {14, 15, 15.1, 14.9, 14.81, 14.79, 16}, "R2 C5 R6"},
        {"temperature above, cleared 2 deg C below",
         K::TemperatureHigh,
         60,
         {25, 60.1, 59, 61, 58.01, 58, 25},
         "R1 C5"},
        {"temperature hovering", K::TemperatureHigh, 60, {60.2, 59.8, 60.2, 59.8, 60.2}, "R0"},
        {"GPS unlocked: raised when the streak outlasts it, cleared when it ends",
         K::GpsUnlocked,
         3600,
         {0, 1800, 3600, 3601, 5000, 0, 10, 3601},
         "R3 C5 R7"},
        {"no data: the same", K::NoData, 60, {0.2, 59, 61, 120, 0.1, 0.3}, "R2 C4"},
        {"disk free below, cleared 10 % above",
         K::DiskFreeLow,
         1000,
         {5000, 999, 1050, 1099, 1100, 900},
         "R1 C4 R5"},
        {"timing quality below, cleared 10 points above",
         K::TimingQualityLow,
         50,
         {100, 40, 55, 59, 60, 49},
         "R1 C4 R5"},
        {"timing quality below 95: a full 100 clears it, the margin stops at the top",
         K::TimingQualityLow,
         95,
         {100, 90, 99, 100},
         "R1 C3"},
        {"an unknown value leaves the alarm as it is",
         K::SupplyLow,
         10.5,
         {None, 10, None, None, 12, None},
         "R1 C4"},
    };
    for (const TRow& row : rows) {
        EXPECT_EQ(RunRow(row), row.Expected) << row.What;
    }
}

TEST(AlarmRule, TurnedOffIsClearedAndNewThresholdCountsForTheClearing) {
    TAlarmConfig config;
    TAlarmEvaluator evaluator(config);
    TAlarmInputs low;
    low.Now = T0;
    low.Set(TAlarmKind::SupplyLow, 10).Set(TAlarmKind::TemperatureHigh, 61);
    ASSERT_EQ(evaluator.Evaluate(low).size(), 2u);
    EXPECT_TRUE(evaluator.Evaluate(low).empty()) << "raised once";

    config.Thresholds[size_t(TAlarmKind::TemperatureHigh)].reset();
    config.Thresholds[size_t(TAlarmKind::SupplyLow)] = 9;
    evaluator.Configure(config);
    TAlarmInputs later = low;
    later.Now = T0 + 5 * Second;
    const std::vector<TAlarmChange> changes = evaluator.Evaluate(later);
    // The supply (10 V) is now 1 V above its new threshold of 9 V: past the band, cleared; the
    // temperature alarm is off: cleared with the value it was raised at.
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0], (TAlarmChange{TAlarmKind::SupplyLow, false, 10, 9, T0}));
    EXPECT_EQ(changes[1], (TAlarmChange{TAlarmKind::TemperatureHigh, false, 61, 60, T0}));
    EXPECT_TRUE(evaluator.Active().empty());
}

TEST(AlarmKeys, DefaultsOptionsAndOff) {
    const TStationCommand command =
        ParseStationCommand({"/dev/ttyUSB0", "--alarm-supply-below", "11.5", "--on-alarm",
                             "'/usr/local/bin/page me' now", "--alarm-gps-unlocked", "off"},
                            std::string("[Station]\n[Alarms]\nTemperatureAbove=45\n"
                                        "SupplyBelow=10\nOnAlarmSeconds=5\n"));
    ASSERT_EQ(command.Error, "");
    const TAlarmConfig& a = command.Config.Alarms;
    EXPECT_EQ(a.Thresholds[size_t(TAlarmKind::SupplyLow)], 11.5) << "the option wins";
    EXPECT_EQ(a.Thresholds[size_t(TAlarmKind::SupplyHigh)], 15);
    EXPECT_EQ(a.Thresholds[size_t(TAlarmKind::TemperatureHigh)], 45);
    EXPECT_EQ(a.Thresholds[size_t(TAlarmKind::GpsUnlocked)], std::nullopt);
    EXPECT_EQ(a.Thresholds[size_t(TAlarmKind::NoData)], 60);
    EXPECT_EQ(a.Thresholds[size_t(TAlarmKind::DiskFreeLow)], 1024);
    EXPECT_EQ(a.Thresholds[size_t(TAlarmKind::TimingQualityLow)], std::nullopt);
    EXPECT_EQ(a.CommandSeconds, 5);
    EXPECT_EQ(a.Command, "'/usr/local/bin/page me' now");

    // --print-config reads back as the same configuration.
    const std::string printed = FormatStationConfig(command.Config);
    EXPECT_NE(printed.find("[Alarms]\nSupplyBelow=11.5\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("GpsUnlockedSeconds=off\n"), std::string::npos) << printed;
    const TStationCommand again = ParseStationCommand({"/dev/ttyUSB0"}, printed);
    ASSERT_EQ(again.Error, "");
    EXPECT_EQ(again.Config.Alarms, a);

    for (const auto& [args, ini, error] :
         std::vector<std::tuple<std::vector<std::string>, std::string, std::string>>{
             {{"--alarm-supply-below", "-1"},
              "",
              "--alarm-supply-below -1: must be 0 to 100 V, or off"},
             {{"--alarm-timing-quality-below", "101"}, "", "must be 0 to 100, or off"},
             {{"--on-alarm", "'unclosed"}, "", "quote is not closed"},
             {{}, "[Alarms]\nNoDataSeconds=0\n", "NoDataSeconds=0: must be 1 to"},
             {{}, "[Alarms]\nSupplyBelow=1\n[Alarms]\n", "a second [Alarms] section"},
             {{}, "[Alarms]\nSupplyLow=1\n", "unknown key in [Alarms]"},
         }) {
        std::vector<std::string> full = {"/dev/ttyUSB0"};
        full.insert(full.end(), args.begin(), args.end());
        const TStationCommand refused = ParseStationCommand(full, ini);
        EXPECT_NE(refused.Error.find(error), std::string::npos) << refused.Error;
    }
}

TEST(AlarmNumberText, ShortestDecimals) {
    EXPECT_EQ(AlarmNumberText(10.4), "10.4");
    EXPECT_EQ(AlarmNumberText(3600), "3600");
    EXPECT_EQ(AlarmNumberText(12.00049), "12");
    EXPECT_EQ(AlarmNumberText(-0.0001), "0");
    EXPECT_EQ(AlarmNumberText(9.9876), "9.988");
}
