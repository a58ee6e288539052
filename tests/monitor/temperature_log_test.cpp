// The temperature log: its line, the append, an emptied file at the start,
// and failures told once per streak while logging goes on.
#include "monitor/temperature_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "monitor/monitor_model.h"
#include "support/blocks.h"

namespace {

namespace fs = std::filesystem;

class TemperatureLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "templog.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir_;
};

TTemperatureHistories Histories(std::initializer_list<std::pair<int, TTemperatureReading>> newest) {
    TTemperatureHistories histories;
    for (const auto& [channel, reading] : newest) {
        histories[static_cast<size_t>(channel)].push_back({-99, -99});  // older, not logged
        histories[static_cast<size_t>(channel)].push_back(reading);
    }
    return histories;
}

}  // namespace

TEST(TemperatureLogLine, NewestReadingPerChannelWithTheUsersSeparators) {
    const TNumberSeparators english{",", "."};
    const TNumberSeparators german{".", ","};
    struct TCase {
        const char* what;
        TTemperatureHistories histories;
        int channels;
        TNumberSeparators separators;
        std::string line;
    };
    const TCase cases[] = {
        {"two channels", Histories({{0, {23.5, 12.3456}}, {1, {23.5, -7.5}}}), 2, english,
         "23.5,12.346,23.5,-7.500\r\n"},
        {"thousands inside the line", Histories({{0, {-3.25, 12345.678}}}), 1, english,
         "-3.3,12,345.678\r\n"},
        {"other separators", Histories({{0, {23.5, 12345.678}}}), 1, german, "23,5,12.345,678\r\n"},
        {"a channel without readings adds nothing", Histories({{0, {20, 1}}, {2, {21, 2}}}), 3,
         english, "20.0,1.000,21.0,2.000\r\n"},
        {"the channel count bounds the line", Histories({{0, {20, 1}}, {1, {21, 2}}}), 1, english,
         "20.0,1.000\r\n"},
        {"no first channel: the line starts with its separator", Histories({{1, {21, 2}}}), 2,
         english, ",21.0,2.000\r\n"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(TemperatureLogLine(c.histories, c.channels, c.separators), c.line) << c.what;
    }
}

TEST_F(TemperatureLogTest, StartEmptiesTheFileAndEachWriteAppendsOneLine) {
    const fs::path path = dir_ / "log.txt";
    std::ofstream(path) << "an older log\r\n";
    TTemperatureLog log;
    EXPECT_TRUE(log.Write("ignored\r\n").Ok()) << "logging off writes nothing";
    for (const char* line : {"1.0,2.000\r\n", "3.0,4.000\r\n"}) {
        log.Start(path.string());  // chosen again: emptied again
        EXPECT_FALSE(fs::exists(path));
        EXPECT_TRUE(log.Write(line).Ok());
        EXPECT_TRUE(log.Write(line).Ok());
        EXPECT_EQ(Read(path), std::string(line) + line);
    }
    log.Stop();
    EXPECT_FALSE(log.Active());
    EXPECT_TRUE(log.Write("5.0,6.000\r\n").Ok());
    EXPECT_EQ(Read(path), "3.0,4.000\r\n3.0,4.000\r\n");
    const TStatus refused = AppendToFile(dir_.string(), "x");
    EXPECT_EQ(refused.Error().Text, std::string(std::strerror(EISDIR)));
    EXPECT_EQ(refused.Error().Errno, EISDIR);
}

// The model writes a line per block. With its directory gone the user hears
// of it once, logging goes on, and resumes when the directory is back; a new
// failure after that is told again.
TEST_F(TemperatureLogTest, ALostDirectoryIsToldOncePerStreakWhileTheModelKeepsLogging) {
    TMonitorModel model(TSettings{}, TNumberSeparators{});
    const fs::path logDir = dir_ / "logs";
    fs::create_directory(logDir);
    const fs::path path = logDir / "temperatures.txt";
    model.StartTemperatureLog(path.string());
    EXPECT_EQ(model.TemperatureLogName(), path.string());
    uint32_t blockCount = 0;
    auto feed = [&] {
        return model.ProcessBlock(
            *MakeOwnedBlock({.Channels = 2, .BlockCount = ++blockCount, .SensorTemp = 21.5}),
            19200);
    };
    EXPECT_TRUE(feed().Reports.empty());
    EXPECT_TRUE(feed().Reports.empty());
    EXPECT_EQ(Read(path), "21.5,0.000,21.5,0.000\r\n21.5,0.000,21.5,0.000\r\n");

    fs::remove_all(logDir);
    const TBlockOutcome first = feed();
    ASSERT_EQ(first.Reports.size(), 1u);
    EXPECT_NE(first.Reports[0].find(path.string()), std::string::npos) << first.Reports[0];
    EXPECT_NE(first.Reports[0].find(std::strerror(ENOENT)), std::string::npos) << first.Reports[0];
    EXPECT_TRUE(feed().Reports.empty()) << "said once per streak";
    EXPECT_TRUE(feed().Reports.empty());
    EXPECT_EQ(model.TemperatureLogName(), path.string()) << "logging stays on";

    fs::create_directory(logDir);
    EXPECT_TRUE(feed().Reports.empty());
    EXPECT_EQ(Read(path), "21.5,0.000,21.5,0.000\r\n") << "resumed with the next block";
    fs::remove_all(logDir);
    EXPECT_EQ(feed().Reports.size(), 1u) << "a new streak is told again";

    model.StartTemperatureLog("");
    EXPECT_TRUE(model.TemperatureLogName().empty());
    EXPECT_TRUE(feed().Reports.empty()) << "logging off";
}
