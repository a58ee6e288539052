// digitizer-station against digitizer-sim: the station's metadata in the archive across
// restarts of the station and of the unit. A restart with the same settings continues each
// channel's epoch; a new sample rate ends it and starts another; --stationxml then prints both
// epochs, the sensors' response and the position from the unit's GPS.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>

#include "seedfile/seed_time.h"
#include "support/child_process.h"
#include "support/station_run.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const int64_t Start = SeedTimeOf(2025, 3, 1, 10, 0, 0)->Seconds;

class StationMetadata : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("station_metadata_e2e_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "archive");
        std::ofstream(dir_ / "station.ini") << "[Station]\n"
                                               "Station=META\n"
                                               "SiteName=Test vault\n"
                                               "[Sensor 1-3]\n"
                                               "Description=Broadband seismometer\n"
                                               "Units=M/S\n"
                                               "Sensitivity=1500\n"
                                               "Poles=-0.03701 0.03701; -0.03701 -0.03701\n"
                                               "Zeros=0; 0\n";
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // The unit at `rate` from `from` and the station recording it for a minute of its time.
    void Record(const char* rate, int64_t from) {
        fs::remove(Path("journal"));
        TChild sim({DIGITIZER_SIM, "--signal", "counter", "--rate", rate, "--link", Path("dev"),
                    "--journal", Path("journal"), "--start", SeedTimeText(from), "--speed", "20"});
        ASSERT_EQ(sim.ReadLines(1, 5s).size(), 1u) << sim.Errors();
        TChild station({DIGITIZER_STATION, Path("dev"), "--config", Path("station.ini"),
                        "--archive", Path("archive"), "--status-file", Path("status.json")});
        ASSERT_TRUE(WaitForUnitTime(Path("journal"), from + 90, 60s));
        station.Signal(SIGTERM);
        ASSERT_EQ(station.Wait(30s), 0) << station.Errors();
        sim.Signal(SIGTERM);
        sim.Wait();
    }

    std::string StationXml() {
        const std::string command = std::string(DIGITIZER_STATION) + " --config " +
                                    Path("station.ini") + " --archive " + Path("archive") +
                                    " --stationxml";
        FILE* pipe = popen(command.c_str(), "r");
        std::string text;
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            text.append(buffer, n);
        }
        EXPECT_EQ(pclose(pipe), 0);
        return text;
    }

    static std::string SeedTimeText(int64_t time) {
        const TSeedCivil c = CivilOf({time, 0});
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", c.Year, c.Month, c.Day,
                      c.Hour, c.Minute, c.Second);
        return text;
    }

    fs::path dir_;
};

TEST_F(StationMetadata, RestartKeepsTheEpochAndANewRateStartsAnother) {
    Record("100", Start);
    Record("100", Start + 3600);
    pugi::xml_document document;
    std::string text = StationXml();
    ASSERT_TRUE(document.load_string(text.c_str())) << text;
    const pugi::xpath_node_set first = document.select_nodes("//Channel[@code='HHZ']");
    ASSERT_EQ(first.size(), 1u) << text;
    const std::string started = first[0].node().attribute("startDate").as_string();
    EXPECT_GE(started, SeedTimeText(Start));
    EXPECT_LE(started, SeedTimeText(Start + 30));
    EXPECT_FALSE(first[0].node().attribute("endDate"));

    Record("200", Start + 7200);
    text = StationXml();
    ASSERT_TRUE(document.load_string(text.c_str())) << text;
    for (const char* code : {"HHZ", "HHN", "HHE"}) {
        SCOPED_TRACE(code);
        const pugi::xpath_node_set epochs =
            document.select_nodes(("//Channel[@code='" + std::string(code) + "']").c_str());
        ASSERT_EQ(epochs.size(), 2u);
        const pugi::xml_node old = epochs[0].node(), now = epochs[1].node();
        EXPECT_STREQ(old.attribute("startDate").as_string(), started.c_str());
        EXPECT_STREQ(old.attribute("endDate").as_string(), now.attribute("startDate").as_string());
        EXPECT_GE(std::string(now.attribute("startDate").as_string()), SeedTimeText(Start + 7200));
        EXPECT_FALSE(now.attribute("endDate"));
        EXPECT_STREQ(old.child_value("SampleRate"), "100");
        EXPECT_STREQ(now.child_value("SampleRate"), "200");
        EXPECT_STREQ(now.first_element_by_path("Response/InstrumentSensitivity/InputUnits/Name")
                         .child_value(),
                     "M/S");
        EXPECT_EQ(
            now.first_element_by_path("Response/InstrumentSensitivity/Value").text().as_double(),
            1500 * 1e6);
    }
    // The state of health ran on through all three runs.
    EXPECT_EQ(document.select_nodes("//Channel[@code='LEV']").size(), 1u);
    // The unit's GPS fixes gave the position; the site is named as configured.
    const pugi::xml_node station = document.select_node("//Station[@code='META']").node();
    EXPECT_FALSE(station.child("Comment")) << text;
    EXPECT_NE(station.child("Latitude").text().as_double(), 0);
    EXPECT_NE(station.child("Longitude").text().as_double(), 0);
    EXPECT_STREQ(station.first_element_by_path("Site/Name").child_value(), "Test vault");
}

}  // namespace
