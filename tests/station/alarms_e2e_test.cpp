// digitizer-station's alarms against digitizer-sim, both as programs: the simulator's supply
// falls below its threshold and comes back, its temperatures rise above theirs and fall back,
// its GPS loses its fix for longer than allowed and regains it. Each alarm is raised once and
// cleared once in the log and in the status (seen standing while it stands), the on-alarm
// command runs once for each change with its values, and the status shows the unit's health.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "support/child_process.h"
#include "support/station_run.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int64_t T0 = 1735689600;  // 2025-01-01T00:00:00Z, the unit's first frame

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t bar = line.find('|'); bar != std::string::npos; bar = line.find('|', start)) {
        fields.push_back(line.substr(start, bar - start));
        start = bar + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

nlohmann::json ReadJsonFile(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(std::string((std::istreambuf_iterator<char>(in)), {}), nullptr,
                                 false);
}

class StationAlarms : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("alarms_e2e_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // The file's threshold is the one in force unless an option says otherwise.
        std::ofstream(dir_ / "station.ini") << "[Station]\n[Alarms]\nGpsUnlockedSeconds=30\n";
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(dir_);
        }
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

}  // namespace

TEST_F(StationAlarms, SupplyTemperatureAndGpsEachRaisedAndClearedOnce) {
    // Unit seconds: supply 10 V from 40 to 80, all temperatures 70 deg C from 120 to 160, no
    // GPS fix from 200 to 300 (the alarm after 30 s of it).
    TChild sim({DIGITIZER_SIM,
                "--gps",
                "reports",
                "--rate",
                "20",
                "--baud",
                "115200",
                "--speed",
                "20",
                "--start",
                "2025-01-01T00:00:00Z",
                "--link",
                Path("dev"),
                "--journal",
                Path("journal"),
                "--at",
                "40:supply=10",
                "--at",
                "80:supply=12",
                "--at",
                "120:temperature=70",
                "--at",
                "160:temperature=25",
                "--at",
                "200:gps=lost",
                "--at",
                "300:gps=fix"});
    ASSERT_EQ(sim.ReadLines(1, 5s).size(), 1u) << sim.Errors();

    const std::string script = Path("on alarm.sh");
    std::ofstream(script) << "#!/bin/sh\n"
                             "printf '%s|%s|%s|%s|%s|%s|%s\\n' \"$ALARM_NAME\" \"$ALARM_STATE\" "
                             "\"$ALARM_VALUE\" \"$ALARM_THRESHOLD\" \"$ALARM_UNIT\" "
                             "\"$ALARM_SINCE\" \"$ALARM_DEVICE\" >> \"$0.out\"\n";
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    TChild station({DIGITIZER_STATION, Path("dev"), "--config", Path("station.ini"), "--archive",
                    Path("archive"), "--status-file", Path("status.json"), "--baud", "115200",
                    "--alarm-disk-free-below", "off", "--on-alarm", "'" + script + "'"});

    // The alarms seen standing in the status file while the scenario runs.
    std::map<std::string, nlohmann::json> seen;
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (!WaitForUnitTime(Path("journal"), T0 + 330, 1ms) &&
           std::chrono::steady_clock::now() < deadline) {
        const nlohmann::json status = ReadJsonFile(Path("status.json"));
        if (!status.is_discarded() && status.contains("alarms")) {
            for (const nlohmann::json& alarm : status["alarms"]) {
                seen.emplace(alarm["name"].get<std::string>(), alarm);
            }
        }
    }
    ASSERT_TRUE(WaitForUnitTime(Path("journal"), T0 + 330, 1ms)) << station.Errors();
    std::this_thread::sleep_for(500ms);  // the last command ends
    station.Signal(SIGTERM);
    ASSERT_EQ(station.Wait(20s), 0) << station.Errors();
    sim.Signal(SIGTERM);
    sim.Wait();
    const std::string log = station.Errors();

    // The log: each raised once and cleared once, nothing else raised.
    for (const char* name : {"supply_low", "temperature_high", "gps_unlocked"}) {
        EXPECT_EQ(Occurrences(log, std::string("alarm ") + name + " raised: "), 1u) << name << log;
        EXPECT_EQ(Occurrences(log, std::string("alarm ") + name + " cleared: "), 1u) << name << log;
    }
    EXPECT_EQ(Occurrences(log, " raised: "), 3u) << log;

    // The status while each stood: its value and threshold.
    ASSERT_EQ(seen.size(), 3u) << log;
    EXPECT_NEAR(seen["supply_low"]["value"].get<double>(), 10, 0.01);
    EXPECT_EQ(seen["supply_low"]["threshold"].get<double>(), 10.5);
    EXPECT_EQ(seen["supply_low"]["unit"].get<std::string>(), "V");
    EXPECT_NEAR(seen["temperature_high"]["value"].get<double>(), 70, 0.01);
    EXPECT_EQ(seen["temperature_high"]["threshold"].get<double>(), 60);
    EXPECT_GT(seen["gps_unlocked"]["value"].get<double>(), 30);
    EXPECT_EQ(seen["gps_unlocked"]["threshold"].get<double>(), 30);
    for (auto& [name, alarm] : seen) {
        EXPECT_EQ(alarm["since_utc"].get<std::string>().size(), 27u) << name;
    }

    // The command: once per change, in order, with the change's values.
    const std::vector<std::string> ran = Lines(script + ".out");
    ASSERT_EQ(ran.size(), 6u) << log;
    const std::vector<std::tuple<std::string, std::string, double, std::string, std::string>>
        expected = {{"supply_low", "raised", 10, "10.5", "V"},
                    {"supply_low", "cleared", 12, "10.5", "V"},
                    {"temperature_high", "raised", 70, "60", "deg C"},
                    {"temperature_high", "cleared", 25, "60", "deg C"},
                    {"gps_unlocked", "raised", 31, "30", "s"},
                    {"gps_unlocked", "cleared", 0, "30", "s"}};
    for (size_t i = 0; i < ran.size(); ++i) {
        const std::vector<std::string> f = Fields(ran[i]);
        ASSERT_EQ(f.size(), 7u) << ran[i];
        const auto& [name, state, value, threshold, unit] = expected[i];
        EXPECT_EQ(f[0], name) << ran[i];
        EXPECT_EQ(f[1], state) << ran[i];
        EXPECT_NEAR(std::stod(f[2]), value, 0.01) << ran[i];
        EXPECT_EQ(f[3], threshold) << ran[i];
        EXPECT_EQ(f[4], unit) << ran[i];
        EXPECT_EQ(f[5].size(), 27u) << ran[i];
        EXPECT_EQ(f[6], Path("dev")) << ran[i];
        if (i % 2 == 1) {
            EXPECT_EQ(f[5], Fields(ran[i - 1])[5]) << "cleared with the time it was raised";
        }
    }
    EXPECT_EQ(Occurrences(log, "exited with status 0"), 6u) << log;

    // The last status: none stands, six changes, the unit's health.
    const nlohmann::json status = ReadJsonFile(Path("status.json"));
    ASSERT_FALSE(status.is_discarded());
    EXPECT_TRUE(status["alarms"].empty()) << status.dump();
    // While the fix was lost the unit's time ran on from its last fix: no gap.
    EXPECT_EQ(status["gaps"].get<int>(), 0);
    EXPECT_EQ(status["damaged_frames"].get<int>(), 0);
    EXPECT_EQ(status["alarm_log"]["raised"].get<int>(), 3);
    EXPECT_EQ(status["alarm_log"]["cleared"].get<int>(), 3);
    EXPECT_EQ(status["alarm_log"]["commands_started"].get<int>(), 6);
    EXPECT_EQ(status["alarm_log"]["recent"].size(), 6u);
    const nlohmann::json& health = status["health"];
    EXPECT_NEAR(health["supply_volts"].get<double>(), 12, 0.01);
    EXPECT_GT(health["supply_milliamps"].get<double>(), 0);
    EXPECT_NEAR(health["sensor_celsius"].get<double>(), 25, 0.01);
    ASSERT_EQ(health["module_celsius"].size(), 6u);
    EXPECT_NEAR(health["module_celsius"][5].get<double>(), 25, 0.01);
    EXPECT_EQ(health["clock_source"].get<std::string>(), "gps");
    const nlohmann::json& gps = health["gps"];
    EXPECT_EQ(gps["form"].get<std::string>(), "reports");
    EXPECT_TRUE(gps["fix"].get<bool>());
    EXPECT_EQ(gps["satellites"].get<int>(), 9);
    // The simulated unit stands at 46 deg 57.1234 min N, 7 deg 26.4567 min E, 540 m.
    EXPECT_NEAR(gps["latitude"].get<double>(), 46 + 57.1234 / 60, 1e-5);
    EXPECT_NEAR(gps["longitude"].get<double>(), 7 + 26.4567 / 60, 1e-5);
    EXPECT_EQ(gps["altitude_m"].get<int>(), 540);
    EXPECT_LE(gps["last_fix_age_s"].get<int>(), 1);

    TChild show({DIGITIZER_STATION, "--status", Path("status.json")});
    std::string text;
    for (const std::string& line : show.ReadLines(100, 2s)) {
        text += line + "\n";
    }
    ASSERT_EQ(show.Wait(10s), 0);
    EXPECT_NE(text.find("Supply:     12.0"), std::string::npos) << text;
    EXPECT_NE(text.find("Clock:      gps; GPS reports, fix, 9 satellites, at 46.952060 "
                        "7.440950, 540 m"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Alarms:     none\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Alarm log:  3 raised, 3 cleared; on alarm: "), std::string::npos) << text;
}
