// The events file's lines and the CSV rows of an event, read back as JSON and as columns, and
// the appending: whole lines, the header once, files that cannot be written and come back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "station/event_log.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// An event of channels 1, 2 and 4 taking part, 1 and 4 triggered.
TEvent SampleEvent() {
    TEvent e;
    e.Id = 2;
    e.Start = {1735689670, 120000000};
    e.End = {1735689682, 450000000};
    e.SampleRate = 100;
    e.PeakRatio = 31.25;
    TEventChannel c1{0, true, {1735689670, 120000000}, 31.25, 812345.5, 0.0812345};
    TEventChannel c2{1, false, {}, 2.5, 1200, 0.00012};
    TEventChannel c4{3, true, {1735689671, 0}, 9.5, 40000, 0.004, true};
    e.Channels = {c1, c2, c4};
    e.Coincidence = {1735689671, 0};
    e.Calibration = true;
    e.PeakFilter = "band-passed 1-10 Hz (2 poles)";
    return e;
}

}  // namespace

TEST(EventsLog, LinesAreJsonObjectsWithTheWholeEventAndCsvRowsFitTheHeader) {
    const TEvent e = SampleEvent();
    // A quote in a name stays inside its string.
    const TEventPlace place{"XX",
                            "ST\"1",
                            {},
                            {"XX.ST\"1.00.HHZ", "XX.ST\"1.00.HHN", "XX.ST\"1.00.HHE",
                             "XX.ST\"1.10.HNZ", "XX.ST\"1.10.HNN", "XX.ST\"1.10.HNE"}};

    const std::string start = EventStartJson(e, 12, place);
    EXPECT_EQ(start.find('\n'), std::string::npos);
    const nlohmann::ordered_json s = nlohmann::ordered_json::parse(start, nullptr, false);
    ASSERT_FALSE(s.is_discarded()) << start;
    std::vector<std::string> names;
    for (const auto& [name, value] : s.items()) {
        names.push_back(name);
    }
    // The fields added later come after the first ones, which keep their order.
    EXPECT_EQ(names, (std::vector<std::string>{"kind", "id", "network", "station", "start",
                                               "sample_rate", "channels", "peak_ratio",
                                               "coincidence", "calibration", "seed_ids"}));
    EXPECT_EQ(s["kind"], "start");
    EXPECT_EQ(s["id"], 12);
    EXPECT_EQ(s["station"], "ST\"1");
    EXPECT_EQ(s["start"], "2025-01-01T00:01:10.120000Z");
    EXPECT_EQ(s["channels"], nlohmann::ordered_json({1, 4}));
    EXPECT_EQ(s["peak_ratio"], 31.25);
    EXPECT_EQ(s["coincidence"], "2025-01-01T00:01:11.000000Z");
    EXPECT_EQ(s["calibration"], true);
    EXPECT_EQ(s["seed_ids"], nlohmann::ordered_json({"XX.ST\"1.00.HHZ", "XX.ST\"1.10.HNZ"}));

    // Numbers as a person writes them: the sample rate whole, the rest rounded.
    const std::string end = EventEndJson(e, 12, place);
    EXPECT_NE(end.find(R"("duration":12.33,"cut":false,"sample_rate":100,)"), std::string::npos)
        << end;
    EXPECT_NE(end.find(R"("peak_counts":1200.0,"peak_volts":0.00012,"clipped":false,)"),
              std::string::npos)
        << end;
    nlohmann::json j = nlohmann::json::parse(end, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << end;
    EXPECT_EQ(j["kind"], "end");
    EXPECT_EQ(j["end"], "2025-01-01T00:01:22.450000Z");
    EXPECT_EQ(j["cut"], false);
    nlohmann::json& per = j["per_channel"];
    ASSERT_EQ(per.size(), 3u);
    EXPECT_EQ(per[0]["channel"], 1);
    EXPECT_EQ(per[0]["first_trigger"], "2025-01-01T00:01:10.120000Z");
    EXPECT_EQ(per[0]["peak_counts"], 812345.5);
    EXPECT_EQ(per[0]["peak_volts"], 0.0812345);
    EXPECT_EQ(per[1]["triggered"], false);
    EXPECT_TRUE(per[1]["first_trigger"].is_null());
    EXPECT_EQ(per[2]["channel"], 4);
    EXPECT_EQ(per[2]["first_trigger"], "2025-01-01T00:01:11.000000Z");
    EXPECT_EQ(per[2]["clipped"], true);
    EXPECT_EQ(j["coincidence"], "2025-01-01T00:01:11.000000Z");
    EXPECT_EQ(j["calibration"], true);
    EXPECT_EQ(j["clipped"], true);
    EXPECT_EQ(j["peak_filter"], "band-passed 1-10 Hz (2 poles)");
    EXPECT_EQ(per[1]["seed_id"], "XX.ST\"1.00.HHN");
    EXPECT_EQ(per[2]["seed_id"], "XX.ST\"1.10.HNZ");
    EXPECT_EQ(j["seed_ids"], nlohmann::json({"XX.ST\"1.00.HHZ", "XX.ST\"1.10.HNZ"}));

    const std::vector<std::string> header = Split(EventCsvHeader(), ',');
    const std::vector<std::string> row = Split(EventCsvRow(e, 12, place), ',');
    ASSERT_EQ(row.size(), header.size());
    ASSERT_EQ(header.size(), 7u + 12u + 4u + 12u + 1u);
    const std::vector<std::string> front(row.begin(), row.begin() + 7);
    EXPECT_EQ(front, (std::vector<std::string>{"12", "2025-01-01T00:01:10.120000Z",
                                               "2025-01-01T00:01:22.450000Z", "12.330000", "no",
                                               "1 4", "31.250"}));
    EXPECT_EQ(header[7], "ch1_peak_counts");
    EXPECT_EQ(row[7], "812345.5");
    EXPECT_EQ(row[9], "1200.0");
    EXPECT_EQ(row[11], "");  // channel 3 does not take part
    EXPECT_EQ(row[13], "40000.0");
    EXPECT_EQ(row[18], "");
    const std::vector<std::string> added(header.begin() + 19, header.begin() + 23);
    EXPECT_EQ(added, (std::vector<std::string>{"coincidence", "calibration", "clipped_channels",
                                               "peak_filter"}));
    const std::vector<std::string> back(row.begin() + 19, row.begin() + 23);
    EXPECT_EQ(back, (std::vector<std::string>{"2025-01-01T00:01:11.000000Z", "yes", "4",
                                              "band-passed 1-10 Hz (2 poles)"}));
    // No sensor: no ground motion in either.
    EXPECT_FALSE(j["per_channel"][0].contains("peak_ground"));
    EXPECT_EQ(std::vector<std::string>(row.begin() + 23, row.begin() + 35),
              std::vector<std::string>(12));
    EXPECT_EQ(header[35], "seed_ids");
    EXPECT_EQ(row[35], "XX.ST\"1.00.HHZ XX.ST\"1.10.HNZ");
}

TEST(EventsLog, WithASensorThePeaksAreAlsoGroundMotionInItsUnits) {
    const TEvent e = SampleEvent();
    TEventPlace place{"XX", "ST1"};
    place.Sensors[0] = TSensor{"bb", "M/S", 1500, 1, TPzTransfer::RadiansPerSecond, {}, {}, {}, {}};
    const nlohmann::json j = nlohmann::json::parse(EventEndJson(e, 3, place));
    const nlohmann::json& per = j["per_channel"];
    EXPECT_EQ(per[0]["peak_ground"], 5.41563e-05);  // 0.0812345 V / 1500 V/(m/s)
    EXPECT_EQ(per[0]["ground_units"], "M/S");
    EXPECT_FALSE(per[2].contains("peak_ground"));  // channel 4: no sensor there
    // An accelerometer on 4-6 too.
    place.Sensors[1] = TSensor{"acc", "M/S**2", 1.02, 5, TPzTransfer::Hertz, {}, {}, {}, {}};
    const nlohmann::json both = nlohmann::json::parse(EventEndJson(e, 3, place));
    EXPECT_EQ(both["per_channel"][2]["peak_ground"], 0.00392157);  // 0.004 V / 1.02 V/(m/s^2)
    EXPECT_EQ(both["per_channel"][2]["ground_units"], "M/S**2");

    const std::vector<std::string> header = Split(EventCsvHeader(), ',');
    const std::vector<std::string> row = Split(EventCsvRow(e, 3, place), ',');
    ASSERT_EQ(row.size(), header.size());
    EXPECT_EQ(header[23], "ch1_peak_ground");
    EXPECT_EQ(header[24], "ch1_ground_units");
    EXPECT_EQ(row[23], "5.41563e-05");
    EXPECT_EQ(row[24], "M/S");
    EXPECT_EQ(row[25], "8e-08");  // channel 2: 0.00012 V / 1500
    EXPECT_EQ(row[27], "");       // channel 3 does not take part
    EXPECT_EQ(row[29], "0.00392157");
    EXPECT_EQ(row[30], "M/S**2");
    EXPECT_EQ(row[31], "");
}

TEST(EventsLog, LinesAreAppendedWholeTheHeaderOnceAndAFailureIsNotFinal) {
    const fs::path dir = fs::temp_directory_path() / ("events_log_" + std::to_string(getpid()));
    fs::remove_all(dir);
    const fs::path path = dir / "sub" / "events.csv";
    {
        TAppendFile file(path.string(), "a,b");
        ASSERT_TRUE(file.Append("1,2"));  // the directory made
        ASSERT_TRUE(file.Append("3,4"));
        file.Close();
        ASSERT_TRUE(file.Append("5,6"));  // opened again, appended, no second header
    }
    {
        TAppendFile again(path.string(), "a,b");
        ASSERT_TRUE(again.Append("7,8"));
    }
    EXPECT_EQ(Read(path), "a,b\n1,2\n3,4\n5,6\n7,8\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    // A directory where the file should be, then a pipe nobody reads: refused at once, named.
    const fs::path blocked = dir / "blocked";
    fs::create_directories(blocked);
    TAppendFile file(blocked.string());
    const TStatus refused = file.Append("x");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.Error().Text.rfind(blocked.string() + ": ", 0), 0u) << refused.Error().Text;
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    TAppendFile pipe(fifo.string());
    EXPECT_FALSE(pipe.Append("x"));
    // Once the way is clear the same file writes.
    fs::remove(blocked);
    ASSERT_TRUE(file.Append("y"));
    EXPECT_EQ(Read(blocked), "y\n");
    fs::remove_all(dir);
}
