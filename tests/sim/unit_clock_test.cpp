// The unit's GPS clock set by --start, actions scheduled on its frame clock, and the journal
// that tells a receiver enough to check every sample it got.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <thread>
#include <tuple>

#include "sim/signals.h"
#include "sim_fixture.h"
#include "support/pty_pair.h"
#include "support/sim_journal.h"

namespace {

using TUnitClock = TSimFixture;
using std::chrono::milliseconds;

constexpr int64_t Start = 1735689590;  // 2024-12-31T23:59:50Z

// The block's GPS date and time as UTC seconds.
int64_t BlockTime(const TDataBlock& block) {
    using namespace std::chrono;
    const TGpsInfo& g = *block.Gps;
    const sys_days day{year(g.Year) / month(static_cast<unsigned>(g.Month)) /
                       std::chrono::day(static_cast<unsigned>(g.Day))};
    return day.time_since_epoch() / seconds(1) + g.Hour * 3600 + g.Minute * 60 + g.Second;
}

TEST_F(TUnitClock, ScheduledActionsAndTheGpsClockAcrossTheYearsEnd) {
    const std::string path = testing::TempDir() + "unit_clock_" + std::to_string(getpid());
    TSimConfig config = FastConfig();
    config.Speed = 50;
    config.JournalPath = path;
    config.StartTime = Start;
    config.UnplugMs = 300;
    config.Actions = {{4, TActionKind::Rate, 50},
                      {6, TActionKind::Channels, 2},
                      {10, TActionKind::Silence, 3},
                      {16, TActionKind::Reopen, 0},
                      {40, TActionKind::PowerCycle, 0}};
    Launch(config);
    // Across the cable pull: the probe follows the fresh device.
    ASSERT_TRUE(Until([&] { return sim_->State().Unplugged; }, milliseconds(5000)));
    ASSERT_TRUE(WaitFor([&] { return !sim_->DevicePath().empty(); }, milliseconds(5000)));
    ASSERT_TRUE(probe_.Open(sim_->DevicePath(), 19200));
    // Across the power cycle: a few frames of the firmware started afresh.
    int after = 0;
    ASSERT_NE(
        WaitFrame([&](const TDataBlock& b) { return BlockTime(b) > Start + 40 && ++after == 3; },
                  milliseconds(10000)),
        nullptr);
    sim_->Stop();
    const auto frames = TSimJournalRead::Load(path).Frames();
    std::remove(path.c_str());

    // Each frame's time is its second of the frame clock: one second after the frame before,
    // except across the power cycle at second 40, whose boot loader ran for at least its
    // power-up delay and wait for the handshake without frames while the clock went on.
    ASSERT_GT(frames.size(), 40u);
    std::map<int64_t, TSimJournalRead::TFrame> bySecond;
    std::map<uint32_t, TSimJournalRead::TFrame> byBlock;
    for (const auto& f : frames) {
        bySecond[f.Time - Start] = f;
        byBlock[f.BlockCount] = f;
        ASSERT_EQ(f.First.size(), static_cast<size_t>(f.Channels)) << f.BlockCount;
    }
    EXPECT_EQ(byBlock.begin()->second.Time, Start);
    const int64_t bootSeconds =
        (config.PowerUpDelayMs + config.BootWaitMs) * static_cast<int64_t>(config.Speed) / 1000;
    for (auto it = std::next(byBlock.begin()); it != byBlock.end(); ++it) {
        const int64_t before = std::prev(it)->second.Time - Start;
        const int64_t second = it->second.Time - Start;
        ASSERT_EQ(it->first, std::prev(it)->first + 1) << "a block count left out";
        if (before == 39) {
            EXPECT_GE(second, 40 + bootSeconds) << "the seconds in the boot loader";
        } else {
            EXPECT_EQ(second, before + 1) << "block " << it->first;
        }
    }
    const auto afterCycle = bySecond.upper_bound(39);
    ASSERT_TRUE(bySecond.count(39));
    ASSERT_NE(afterCycle, bySecond.end());

    // Actions at their second: the rate and channels from that second's frame until the
    // power cycle restores the saved settings; silence and the pull cost those seconds.
    const std::vector<std::tuple<int64_t, double, int, std::string>> expected = {
        {3, 100, 3, ""}, {4, 50, 3, ""},           {5, 50, 3, ""},         {6, 50, 2, ""},
        {9, 50, 2, ""},  {10, 50, 2, "silence"},   {12, 50, 2, "silence"}, {13, 50, 2, ""},
        {15, 50, 2, ""}, {16, 50, 2, "unplugged"},
    };
    for (const auto& [second, rate, channels, damage] : expected) {
        ASSERT_TRUE(bySecond.count(second)) << second;
        const auto& f = bySecond[second];
        EXPECT_DOUBLE_EQ(f.Rate, rate) << second;
        EXPECT_EQ(f.Channels, channels) << second;
        EXPECT_EQ(f.Samples, static_cast<int>(rate)) << second;
        EXPECT_EQ(f.Damage, damage) << second;
    }
    EXPECT_DOUBLE_EQ(afterCycle->second.Rate, 100);
    EXPECT_EQ(afterCycle->second.Channels, 3);

    // Every decoded block tells the journal's time and carries the counter from the journal's
    // first index, on both sides of the year's end.
    std::map<int, int> years;
    for (const auto& block : probe_.Frames()) {
        const uint32_t count = block->Header->BlockCount;
        ASSERT_TRUE(byBlock.count(count)) << count;
        const auto& f = byBlock[count];
        EXPECT_TRUE(f.Intact) << "a block decoded from a frame that did not leave whole: " << count;
        EXPECT_EQ(BlockTime(*block), f.Time) << count;
        ++years[block->Gps->Year];
        ASSERT_EQ(block->Header->NumComponents, f.Channels);
        const int shift = 32 - 8 * f.Bytes;
        for (int c = 0; c < f.Channels; ++c) {
            const auto& samples = block->Samples->Channel[c];
            ASSERT_EQ(samples.size(), static_cast<size_t>(f.Samples)) << count;
            for (size_t j = 0; j < samples.size(); ++j) {
                ASSERT_EQ(
                    samples[j],
                    static_cast<int32_t>(
                        static_cast<uint32_t>(CounterValue(c, f.First[c] + j, f.Bytes)) << shift))
                    << "block " << count << " channel " << c << " sample " << j;
            }
        }
    }
    EXPECT_GT(years[2024], 0);
    EXPECT_GT(years[2025], 0);
}

}  // namespace

// A real unit's clock runs on while no program has its device open: a program that comes back
// finds the block count and the GPS time advanced by the time it was away, the GPS time the
// true time, however full the line's buffer got meanwhile (these frames fill it in two
// seconds).
TEST(TUnitClockAway, RunsOnWhileNobodyHasTheDeviceOpen) {
    using namespace std::chrono;
    TSimConfig config;  // one frame per second of wall time
    config.Channels = 6;
    config.Rate = 375;
    config.BytesPerSample = 4;
    config.Baud = 115200;
    TDigitizerSim sim(config);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    const std::string path = sim.DevicePath();
    TSerialProbe probe;
    // The first block decoded after the line's backlog was thrown away.
    const auto nextBlock = [&](uint32_t& count, int64_t& time) {
        probe.Discard();
        probe.Frames().clear();
        return probe.ReadUntil(
            [&] {
                if (probe.TakeFrames() == 0) {
                    return false;
                }
                count = probe.Frames().front()->Header->BlockCount;
                time = BlockTime(*probe.Frames().front());
                return true;
            },
            seconds(5));
    };
    const auto wallClock = [] {
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    };

    ASSERT_TRUE(probe.Open(path, 115200));
    uint32_t countBefore = 0;
    int64_t timeBefore = 0;
    ASSERT_TRUE(nextBlock(countBefore, timeBefore));
    probe.Close();
    const auto closed = steady_clock::now();
    std::this_thread::sleep_for(seconds(8));
    ASSERT_TRUE(probe.Open(path, 115200));
    const double away = duration<double>(steady_clock::now() - closed).count();
    uint32_t countAfter = 0;
    int64_t timeAfter = 0;
    ASSERT_TRUE(nextBlock(countAfter, timeAfter));
    const int64_t now = wallClock();

    const int64_t blocks = static_cast<int64_t>(countAfter) - countBefore;
    EXPECT_EQ(timeAfter - timeBefore, blocks) << "a block per second of the GPS clock";
    EXPECT_GE(static_cast<double>(blocks), away - 1) << "the clock stood while nobody listened";
    EXPECT_LE(static_cast<double>(blocks), away + 4);
    EXPECT_NEAR(static_cast<double>(timeAfter), static_cast<double>(now), 3)
        << "the GPS time is the true time";
}
