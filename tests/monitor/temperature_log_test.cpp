// The temperature log: its line, the writer's appends in order, an emptied file at the start,
// a writer that falls behind, and failures told once per streak while logging goes on.
#include "monitor/temperature_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
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

// Lines reach the file in the order they were handed over, none lost; choosing the file again
// empties it, and after Stop nothing more is written.
TEST_F(TemperatureLogTest, LinesArriveInOrderInAnEmptiedFile) {
    const fs::path path = dir_ / "log.txt";
    std::ofstream(path) << "an older log\r\n";
    TTemperatureLog log;
    log.Write("ignored\r\n");  // logging off writes nothing
    log.Drain();
    EXPECT_EQ(Read(path), "an older log\r\n");
    for (int round = 0; round < 2; ++round) {
        log.Start(path.string());  // chosen again: emptied again
        std::string expected;
        for (int i = 0; i < 500; ++i) {
            const std::string line = std::to_string(round) + "," + std::to_string(i) + "\r\n";
            log.Write(line);
            expected += line;
        }
        log.Drain();
        EXPECT_EQ(Read(path), expected) << "round " << round;
    }
    log.Stop();
    EXPECT_FALSE(log.Active());
    log.Write("5.0,6.000\r\n");
    log.Drain();
    EXPECT_EQ(Read(path).substr(0, 5), "1,0\r\n");
    EXPECT_TRUE(log.TakeNews().Empty());

    const TStatus refused = AppendToFile(dir_.string(), "x");
    EXPECT_EQ(refused.Error().Text, std::string(std::strerror(EISDIR)));
    EXPECT_EQ(refused.Error().Errno, EISDIR);
}

// The lines handed over before the log ends are all written when it goes (the program's exit).
TEST_F(TemperatureLogTest, TheLinesHandedOverAreWrittenBeforeTheLogGoes) {
    const fs::path path = dir_ / "log.txt";
    std::string expected;
    {
        TTemperatureLog log;
        log.Start(path.string());
        for (int i = 0; i < 200; ++i) {
            expected += std::to_string(i) + "\r\n";
            log.Write(std::to_string(i) + "\r\n");
        }
    }
    EXPECT_EQ(Read(path), expected);
}

// A disk slower than the data: with the writer held on a full pipe, the oldest waiting lines
// are dropped to keep the newest; that is reported once and counted, and what is written
// stays in order.
TEST_F(TemperatureLogTest, ALogThatFallsBehindDropsItsOldestLinesAndSaysSo) {
    const fs::path path = dir_ / "fifo";
    TTemperatureLog log(4);
    log.Start(path.string());
    log.Drain();  // the start deletes what is at the path: the pipe comes after
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int reader = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    // The pipe filled first, so the writer is held from its first line on.
    size_t filler = 0;
    for (const std::string block(4096, '#');;) {
        const ssize_t n = ::write(reader, block.data(), block.size());
        if (n <= 0) {
            break;
        }
        filler += static_cast<size_t>(n);
    }
    constexpr int Lines = 1000;
    for (int i = 0; i < Lines; ++i) {
        log.Write(std::to_string(i) + "\r\n");
    }
    log.Write("end\r\n");
    std::string text;
    while (text.size() < 5 || text.compare(text.size() - 5, 5, "end\r\n") != 0) {
        pollfd wait{reader, POLLIN, 0};
        ASSERT_EQ(::poll(&wait, 1, 30000), 1) << "the newest line never came";
        char chunk[4096];
        const ssize_t n = ::read(reader, chunk, sizeof chunk);
        ASSERT_GT(n, 0);
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(reader);
    log.Drain();

    ASSERT_GE(text.size(), filler);
    EXPECT_EQ(text.find_first_not_of('#'), filler);
    std::istringstream lines(text.substr(filler));
    std::string line;
    int previous = -1;
    int written = 0;
    while (std::getline(lines, line) && line != "end\r") {
        const int number = std::stoi(line);
        EXPECT_GT(number, previous) << "out of order";
        previous = number;
        ++written;
    }
    EXPECT_EQ(line, "end\r") << "the newest line is kept";
    const TRecordingNews news = log.TakeNews();
    ASSERT_EQ(news.Reports.size(), 1u) << "reported once";
    EXPECT_NE(news.Reports[0].find(path.string()), std::string::npos) << news.Reports[0];
    ASSERT_EQ(news.Notices.size(), 1u);
    const int dropped = Lines - written;
    EXPECT_GT(dropped, 0);
    EXPECT_NE(news.Notices[0].find(" " + std::to_string(dropped) + " lines were dropped"),
              std::string::npos)
        << news.Notices[0];
}

// The model hands a line per block to the log. With its directory gone the user hears of it
// once (with a later block's outcome), logging goes on, and resumes when the directory is
// back; a new failure after that is told again.
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
    // A block, then everything the log has written, and what it said meanwhile (with the
    // block's outcome or after it, as the writer got to it).
    auto feedAndSettle = [&] {
        const TBlockOutcome outcome = feed();
        model.WaitForRecorder();
        TRecordingNews news{outcome.Reports, outcome.Notices};
        news.Append(model.TakeRecordingNews());
        return news;
    };
    EXPECT_TRUE(feedAndSettle().Empty());
    EXPECT_TRUE(feedAndSettle().Empty());
    EXPECT_EQ(Read(path), "21.5,0.000,21.5,0.000\r\n21.5,0.000,21.5,0.000\r\n");

    fs::remove_all(logDir);
    // Told with this block's outcome or the next one's, as the writer gets to it.
    std::vector<std::string> reports = feed().Reports;
    model.WaitForRecorder();
    const std::vector<std::string> next = feed().Reports;
    reports.insert(reports.end(), next.begin(), next.end());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(path.string()), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find(std::strerror(ENOENT)), std::string::npos) << reports[0];
    EXPECT_TRUE(feedAndSettle().Reports.empty()) << "said once per streak";
    EXPECT_EQ(model.TemperatureLogName(), path.string()) << "logging stays on";

    fs::create_directory(logDir);
    const TRecordingNews back = feedAndSettle();
    EXPECT_TRUE(back.Reports.empty());
    ASSERT_EQ(back.Notices.size(), 1u);
    EXPECT_NE(back.Notices[0].find("3 lines were lost"), std::string::npos) << back.Notices[0];
    EXPECT_EQ(Read(path), "21.5,0.000,21.5,0.000\r\n") << "resumed with the next block";
    fs::remove_all(logDir);
    EXPECT_EQ(feedAndSettle().Reports.size(), 1u) << "a new streak is told again";

    model.StartTemperatureLog("");
    EXPECT_TRUE(model.TemperatureLogName().empty());
    EXPECT_TRUE(feedAndSettle().Empty()) << "logging off";
}
