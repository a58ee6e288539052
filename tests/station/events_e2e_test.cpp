// digitizer-station's event detection against digitizer-sim, both as programs: three
// earthquakes of different sizes planted in the simulator's noise are the three events of the
// events file, each starting within the STA after its planted onset; the on-event command (a
// script whose path holds a blank, given an argument) ran once for each with the event's values;
// the status file and --status list them; a CSV file that cannot be written is said once and
// recording goes on. The manual page's example of three earthquakes gives its three events.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/child_process.h"
#include "support/station_run.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int64_t T0 = 1735689600;  // 2025-01-01T00:00:00Z, the unit's first frame

struct TPlanted {
    double At;  // seconds of the unit's clock
    double Duration;
    double Amplitude;
    const char* Channels;           // as --event takes them
    std::vector<double> Triggered;  // the channels that must trigger, from 1
};

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

// Seconds since T0 of an ISO time "2025-01-01T00:01:10.120000Z" (within the first day).
double SecondsOf(const std::string& iso) {
    EXPECT_EQ(iso.substr(0, 11), "2025-01-01T") << iso;
    if (iso.size() < 26) {
        return -1;
    }
    return std::stoi(iso.substr(11, 2)) * 3600 + std::stoi(iso.substr(14, 2)) * 60 +
           std::stod(iso.substr(17, 9));
}

std::vector<double> Numbers(const nlohmann::json& array) {
    return array.get<std::vector<double>>();
}

class StationEvents : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("events_e2e_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "csv-is-a-directory");
        std::ofstream(dir_ / "station.ini") << "[Station]\n[Events]\nEnable=no\n";
    }
    void TearDown() override {
        if (!HasFailure()) {
            fs::remove_all(dir_);
        }
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    bool WaitForUnitTime(int64_t time, std::chrono::seconds timeout) {
        return ::WaitForUnitTime(Path("journal"), time, timeout);
    }

    fs::path dir_;
};

}  // namespace

TEST_F(StationEvents, ThreePlantedEarthquakesAreTheThreeEventsEverywhere) {
    // The first well after the station has started and its LTA (30 s) has filled; each after
    // the LTA has settled from the one before.
    const std::vector<TPlanted> planted = {{90, 10, 2e6, "1+2", {1, 2}},
                                           {160, 15, 4e6, "1-3", {1, 2, 3}},
                                           {250, 20, 6e6, "1-3", {1, 2, 3}}};
    std::vector<std::string> simArgs = {DIGITIZER_SIM,
                                        "--signal",
                                        "noise",
                                        "--rate",
                                        "50",
                                        "--channels",
                                        "3",
                                        "--baud",
                                        "115200",
                                        "--speed",
                                        "25",
                                        "--start",
                                        "2025-01-01T00:00:00Z",
                                        "--link",
                                        Path("dev"),
                                        "--journal",
                                        Path("journal")};
    for (const TPlanted& p : planted) {
        char event[96];
        std::snprintf(event, sizeof event, "%g,%g,%g,%s", p.At, p.Duration, p.Amplitude,
                      p.Channels);
        simArgs.insert(simArgs.end(), {"--event", event});
    }
    TChild sim(simArgs);
    ASSERT_EQ(sim.ReadLines(1, 5s).size(), 1u) << sim.Errors();

    // The script appends its argument and the event's values; its path has a blank in it.
    const std::string script = Path("on event.sh");
    std::ofstream(script) << "#!/bin/sh\n"
                             "printf '%s|%s|%s|%s|%s|%s|%s|%s\\n' \"$1\" \"$EVENT_ID\" "
                             "\"$EVENT_START\" \"$EVENT_CHANNELS\" \"$EVENT_STATION\" "
                             "\"$EVENT_PEAK_RATIO\" \"$EVENT_CALIBRATION\" \"$(cat)\" >> "
                             "\"$0.out\"\n";
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    // --trigger on the command line wins over Enable=no in the file.
    TChild station({DIGITIZER_STATION,
                    Path("dev"),
                    "--config",
                    Path("station.ini"),
                    "--archive",
                    Path("archive"),
                    "--status-file",
                    Path("status.json"),
                    "--baud",
                    "115200",
                    "--flush-seconds",
                    "5",
                    "--trigger",
                    "--trigger-channels",
                    "1-3",
                    "--events-file",
                    Path("events.jsonl"),
                    "--events-csv",
                    Path("csv-is-a-directory"),
                    "--on-event",
                    "'" + script + "' \"first arg\""});
    ASSERT_TRUE(WaitForUnitTime(T0 + 290, 60s)) << station.Errors();
    station.Signal(SIGTERM);
    ASSERT_EQ(station.Wait(20s), 0) << station.Errors();
    sim.Signal(SIGTERM);
    sim.Wait();
    const std::string log = station.Errors();
    // The station code the archive took from the unit's serial number.
    std::vector<std::string> codes;
    for (const auto& entry : fs::directory_iterator(dir_ / "archive/2025/XX")) {
        codes.push_back(entry.path().filename().string());
    }
    ASSERT_EQ(codes.size(), 1u) << log;
    const std::string code = codes[0];

    // The events file: a start and an end line for each planted event, in order.
    const std::vector<std::string> lines = Lines(Path("events.jsonl"));
    ASSERT_EQ(lines.size(), 6u) << log;
    std::vector<std::string> starts;
    for (size_t i = 0; i < planted.size(); ++i) {
        SCOPED_TRACE(i);
        nlohmann::json start = nlohmann::json::parse(lines[2 * i], nullptr, false);
        nlohmann::json end = nlohmann::json::parse(lines[2 * i + 1], nullptr, false);
        ASSERT_FALSE(start.is_discarded() || end.is_discarded()) << lines[2 * i] << "\n"
                                                                 << lines[2 * i + 1];
        EXPECT_EQ(start["kind"].get<std::string>(), "start");
        EXPECT_EQ(end["kind"].get<std::string>(), "end");
        EXPECT_EQ(start["id"].get<double>(), double(i + 1));
        EXPECT_EQ(end["id"].get<double>(), double(i + 1));
        EXPECT_EQ(start["station"].get<std::string>(), code);
        EXPECT_EQ(end["station"].get<std::string>(), code);
        EXPECT_EQ(end["start"].get<std::string>(), start["start"].get<std::string>());
        starts.push_back(start["start"].get<std::string>());
        const double delay = SecondsOf(starts.back()) - planted[i].At;
        EXPECT_GE(delay, 0) << starts.back();
        EXPECT_LE(delay, 1.0) << starts.back();  // the STA
        const double ended = SecondsOf(end["end"].get<std::string>());
        EXPECT_NEAR(end["duration"].get<double>(), ended - SecondsOf(starts.back()), 1e-5);
        EXPECT_LT(ended, planted[i].At + planted[i].Duration + 10);
        EXPECT_FALSE(end["cut"].get<bool>());
        EXPECT_EQ(Numbers(end["channels"]), planted[i].Triggered);
        EXPECT_GE(end["peak_ratio"].get<double>(), 4);
        nlohmann::json& per = end["per_channel"];
        ASSERT_EQ(per.size(), 3u);
        for (nlohmann::json& c : per) {
            SCOPED_TRACE(c["channel"].get<double>());
            const bool shaken = planted[i].Triggered.size() == 3 || c["channel"].get<double>() < 3;
            EXPECT_EQ(c["triggered"].get<bool>(), shaken);
            if (shaken) {
                EXPECT_GT(c["peak_counts"].get<double>(), 0.4 * planted[i].Amplitude);
                EXPECT_LT(c["peak_counts"].get<double>(), 1.3 * planted[i].Amplitude);
                EXPECT_GT(c["peak_volts"].get<double>(), 0);
            } else {
                EXPECT_LT(c["peak_counts"].get<double>(), 0.1 * planted[i].Amplitude);  // noise
            }
        }
    }

    // The command ran once per event, in order, with the event's values.
    const std::vector<std::string> ran = Lines(script + ".out");
    ASSERT_EQ(ran.size(), 3u) << log;
    for (size_t i = 0; i < ran.size(); ++i) {
        const std::string channels = i == 0 ? "1,2" : "1,2,3";
        const std::string head = "first arg|" + std::to_string(i + 1) + "|" + starts[i] + "|";
        EXPECT_EQ(ran[i].rfind(head, 0), 0u) << ran[i];
        // The channels at the start: at least those triggered first, at most the event's.
        const std::string rest = ran[i].substr(head.size());
        const std::string tail = "|" + code + "|";
        EXPECT_TRUE(rest.rfind("1,2" + tail, 0) == 0 || rest.rfind("1,3" + tail, 0) == 0 ||
                    rest.rfind("2,3" + tail, 0) == 0 || rest.rfind("1,2,3" + tail, 0) == 0)
            << ran[i];
        if (i == 0) {
            EXPECT_EQ(rest.rfind("1,2" + tail, 0), 0u) << ran[i];
        }
        // The peak ratio at the start: at least the trigger-on ratio.
        EXPECT_GE(std::stod(rest.substr(rest.find(tail) + tail.size())), 4) << ran[i];
        // No calibration; standard input empty.
        EXPECT_EQ(ran[i].substr(ran[i].size() - 4), "|no|") << ran[i];
    }
    EXPECT_EQ(Occurrences(log, "exited with status 0"), 3u) << log;

    // The status file lists them, and so does --status.
    std::ifstream statusFile(Path("status.json"));
    nlohmann::json status = nlohmann::json::parse(
        std::string((std::istreambuf_iterator<char>(statusFile)), {}), nullptr, false);
    ASSERT_FALSE(status.is_discarded());
    nlohmann::json& events = status["events"];
    EXPECT_EQ(events["detected"].get<double>(), 3);
    EXPECT_EQ(events["commands_started"].get<double>(), 3);
    EXPECT_EQ(events["commands_skipped"].get<double>(), 0);
    ASSERT_EQ(events["recent"].size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(events["recent"][i]["id"].get<double>(), double(i + 1));
        EXPECT_EQ(events["recent"][i]["start"].get<std::string>(), starts[i]);
        EXPECT_EQ(events["recent"][i]["end"].is_string(), true);
    }
    TChild show({DIGITIZER_STATION, "--status", Path("status.json")});
    const std::vector<std::string> shown = show.ReadLines(100, 2s);
    ASSERT_EQ(show.Wait(10s), 0);
    std::string text;
    for (const std::string& line : shown) {
        text += line + "\n";
    }
    EXPECT_NE(text.find("Events:     3 detected"), std::string::npos) << text;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NE(text.find("  #" + std::to_string(i + 1) + "  " + starts[i]), std::string::npos)
            << text;
    }

    // The CSV file could not be written: said once, and recording went on.
    EXPECT_EQ(Occurrences(log, "cannot write the events: " + Path("csv-is-a-directory")), 1u)
        << log;
    EXPECT_TRUE(
        fs::exists(dir_ / "archive/2025/XX" / code / "BHZ.D" / ("XX." + code + "..BHZ.D.2025.001")))
        << log;
}

// The simulator's manual page example, with the simulator's and the station's defaults (100
// samples per second, three channels, the detector's settings): each earthquake is an event
// that starts on its P onset, the first on channels 1 and 2 only.
TEST_F(StationEvents, TheManualPageExampleGivesAllThreeEarthquakes) {
    const std::vector<TPlanted> planted = {
        {60, 15, 1e6, "1+2", {1, 2}}, {120, 20, 2e6, "", {1, 2, 3}}, {200, 30, 5e6, "", {1, 2, 3}}};
    TChild sim({DIGITIZER_SIM, "--signal", "noise", "--speed", "25", "--start",
                "2025-01-01T00:00:00Z", "--event", "60,15,1000000,1+2", "--event", "120,20,2000000",
                "--event", "200,30,5000000", "--link", Path("dev"), "--journal", Path("journal")});
    ASSERT_EQ(sim.ReadLines(1, 5s).size(), 1u) << sim.Errors();
    TChild station({DIGITIZER_STATION, Path("dev"), "--config", Path("station.ini"), "--archive",
                    Path("archive"), "--trigger", "--events-file", Path("events.jsonl")});
    ASSERT_TRUE(WaitForUnitTime(T0 + 235, 60s)) << station.Errors();
    station.Signal(SIGTERM);
    ASSERT_EQ(station.Wait(20s), 0) << station.Errors();
    sim.Signal(SIGTERM);
    sim.Wait();

    std::vector<nlohmann::json> ended;
    for (const std::string& line : Lines(Path("events.jsonl"))) {
        nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(event.is_discarded()) << line;
        if (event["kind"].get<std::string>() == "end") {
            ended.push_back(event);
        }
    }
    ASSERT_EQ(ended.size(), planted.size()) << station.Errors();
    for (size_t i = 0; i < planted.size(); ++i) {
        SCOPED_TRACE(i);
        const nlohmann::json& e = ended[i];
        const double start = SecondsOf(e["start"].get<std::string>());
        EXPECT_GE(start, planted[i].At);
        EXPECT_LE(start, planted[i].At + 1.0);  // within the STA of the P onset
        EXPECT_LT(SecondsOf(e["end"].get<std::string>()), planted[i].At + planted[i].Duration);
        EXPECT_FALSE(e["cut"].get<bool>());
        EXPECT_EQ(Numbers(e["channels"]), planted[i].Triggered);
        EXPECT_GE(e["peak_ratio"].get<double>(), 4);
        for (const nlohmann::json& c : e["per_channel"]) {
            SCOPED_TRACE(c["channel"].get<double>());
            if (c["triggered"].get<bool>()) {
                EXPECT_GT(c["peak_counts"].get<double>(), 0.4 * planted[i].Amplitude);
                EXPECT_LT(c["peak_counts"].get<double>(), 1.3 * planted[i].Amplitude);
            }
        }
    }
}

// A half-scale calibration step the unit is set to at 60 s and takes off at 100 s (the station
// sends no command: it must recognise the signal), then an earthquake at 200 s, while 2% of the
// frames are lost: the step's events are marked calibration, the earthquake is a plain event
// that starts at its P onset, and no lost frame started the detection afresh.
TEST_F(StationEvents, CalibrationStepsAreMarkedAndLostFramesBridged) {
    TChild sim({DIGITIZER_SIM,
                "--signal",
                "noise",
                "--rate",
                "50",
                "--speed",
                "25",
                "--start",
                "2025-01-01T00:00:00Z",
                "--at",
                "60:calibration=1",
                "--at",
                "100:calibration=0",
                "--event",
                "200,15,3000000",
                "--fault",
                "drop=0.02",
                "--seed",
                "3",
                "--link",
                Path("dev"),
                "--journal",
                Path("journal")});
    ASSERT_EQ(sim.ReadLines(1, 5s).size(), 1u) << sim.Errors();
    TChild station({DIGITIZER_STATION, Path("dev"), "--config", Path("station.ini"), "--archive",
                    Path("archive"), "--trigger", "--events-file", Path("events.jsonl"),
                    "--status-file", Path("status.json")});
    ASSERT_TRUE(WaitForUnitTime(T0 + 235, 60s)) << station.Errors();
    station.Signal(SIGTERM);
    ASSERT_EQ(station.Wait(20s), 0) << station.Errors();
    sim.Signal(SIGTERM);
    sim.Wait();
    const std::string log = station.Errors();

    std::vector<nlohmann::json> ended;
    for (const std::string& line : Lines(Path("events.jsonl"))) {
        nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(event.is_discarded()) << line;
        if (event["kind"].get<std::string>() == "end") {
            ended.push_back(event);
        }
    }
    ASSERT_GE(ended.size(), 3u) << log;
    for (size_t i = 0; i + 1 < ended.size(); ++i) {
        SCOPED_TRACE(i);
        const double start = SecondsOf(ended[i]["start"].get<std::string>());
        EXPECT_TRUE(ended[i]["calibration"].get<bool>()) << ended[i].dump();
        EXPECT_TRUE((start >= 60 && start < 62) || (start >= 100 && start < 102)) << start;
    }
    const nlohmann::json& quake = ended.back();
    EXPECT_FALSE(quake["calibration"].get<bool>()) << quake.dump();
    const double start = SecondsOf(quake["start"].get<std::string>());
    EXPECT_GE(start, 200);
    EXPECT_LE(start, 201);
    EXPECT_EQ(Occurrences(log, "event detection starts afresh"), 0u) << log;
    std::ifstream statusFile(Path("status.json"));
    const nlohmann::json status = nlohmann::json::parse(
        std::string((std::istreambuf_iterator<char>(statusFile)), {}), nullptr, false);
    ASSERT_FALSE(status.is_discarded());
    EXPECT_GE(status["gaps"].get<double>(), 2) << status.dump();  // frames were lost
}
