// The link keeper driven as a program's loop drives it, against the simulator on a
// pseudo-terminal: the baud search, a fixed rate, and a device that goes away and comes back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "digitizer/link_keeper.h"
#include "sim/simulator.h"

using namespace std::chrono_literals;

namespace {

using TKind = TLinkKeeper::TEventKind;

enum class TPull { None, Cable, Power };

struct TCase {
    const char* Name;
    int UnitBaud;
    uint32_t Baud;  // the keeper's
    TPull Pull;     // after the first blocks: the cable pulled, or the unit switched off and on
    std::vector<std::string> Events;  // all of them, in order ("gone" for a device gone)
    uint32_t FinalBaud;               // the open port's at the end
};

void PrintTo(const TCase& c, std::ostream* os) {
    *os << c.Name;
}

class LinkKeeper : public ::testing::TestWithParam<TCase> {
  protected:
    using TClock = TLinkKeeper::TClock;
    // The keeper's clock advances 30 ms for each pass of the loop, which takes at least 10 ms:
    // at most three times as fast as the wall's, so a tick comes every 367 ms or more, and
    // the simulator's 20 frames a second still bring several blocks per tick.
    static constexpr auto Pass = 10ms;
    static constexpr auto Step = 30ms;

    void SetUp() override {
        config_.Speed = 20;
        config_.Baud = GetParam().UnitBaud;
        config_.LinkPath = testing::TempDir() + "keeper_" + std::to_string(getpid());
        StartUnit();
    }
    void TearDown() override {
        keeper_.Close();
        if (sim_) {
            sim_->Stop();
        }
    }

    void StartUnit() {
        sim_ = std::make_unique<TDigitizerSim>(config_);
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
    }

    // The owner's loop: blocks counted, ticks serviced, events kept, until `done` holds or
    // `ticks` more ticks have passed.
    bool Run(const std::function<bool()>& done, int ticks) {
        const auto limit = now_ + ticks * TLinkKeeper::TickInterval;
        while (now_ < limit) {
            std::this_thread::sleep_for(Pass);
            now_ += Step;
            for (int posted = posted_.load(); counted_ < posted; ++counted_) {
                ++blocksSinceEvent_;
            }
            for (auto& event : keeper_.Service(now_)) {
                if (event.Kind == TKind::DeviceGone) {
                    EXPECT_NE(event.Reason.find(config_.LinkPath), std::string::npos);
                    EXPECT_FALSE(keeper_.IsOpen());
                    EXPECT_EQ(keeper_.LastOpenError(), event.Reason);
                }
                events_.push_back(event.Kind == TKind::DeviceGone ? "gone" : event.Text());
                blocksSinceEvent_ = 0;
            }
            if (const auto baud = keeper_.BaudRate(); baud && GetParam().Baud != 0) {
                EXPECT_EQ(*baud, GetParam().Baud) << "a fixed rate moved";
            }
            if (done()) {
                return true;
            }
        }
        return false;
    }
    bool BlocksFlow() {
        return Run([&] { return blocksSinceEvent_ >= 3; }, 12);
    }

    TSimConfig config_;
    std::unique_ptr<TDigitizerSim> sim_;
    std::atomic<int> posted_{0};
    TLinkKeeper keeper_{[this](TDataBlock* block, uint32_t) {
        FreeBlock(block);
        ++posted_;
        return true;
    }};
    TClock::time_point now_ = TClock::now();
    int counted_ = 0;
    int blocksSinceEvent_ = 0;
    std::vector<std::string> events_;
};

TEST_P(LinkKeeper, KeepsTheLinkUp) {
    const TCase& c = GetParam();
    ASSERT_TRUE(keeper_.Open(1, config_.LinkPath, c.Baud, now_)) << keeper_.LastOpenError();
    if (c.FinalBaud != static_cast<uint32_t>(c.UnitBaud)) {
        // Never a block at the wrong rate, and never another rate.
        Run([] { return false; }, 7);
        EXPECT_EQ(counted_, 0);
    } else {
        ASSERT_TRUE(BlocksFlow());
    }
    if (c.Pull != TPull::None) {
        if (c.Pull == TPull::Cable) {
            sim_->InjectFault(TFaultKind::Reopen);  // back after a moment
        } else {
            sim_->Stop();
        }
        ASSERT_TRUE(Run([&] { return !events_.empty() && events_.back() == "gone"; }, 4));
        if (c.Pull == TPull::Power) {
            Run([] { return false; }, 3);  // waiting for the unit, at its rate
            StartUnit();
        }
        ASSERT_TRUE(BlocksFlow()) << "no blocks once the device was back";
    }
    EXPECT_EQ(events_, c.Events);
    EXPECT_EQ(keeper_.BaudRate(), c.FinalBaud);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkKeeper,
    ::testing::Values(
        // From 19200 through 38400 to the unit's rate.
        TCase{"SearchFindsTheUnitsRate",
              57600,
              TLinkKeeper::AutoBaud,
              TPull::None,
              {"searching at 38400 baud", "searching at 57600 baud"},
              57600},
        // Restarted every second tick of seven, at its own rate.
        TCase{"AFixedRateNeverMoves",
              38400,
              19200,
              TPull::None,
              {"no block: link restarted at 19200 baud", "no block: link restarted at 19200 baud",
               "no block: link restarted at 19200 baud"},
              19200},
        TCase{"ThePulledCableIsWaitedForAndTheFreshDeviceOpened",
              19200,
              19200,
              TPull::Cable,
              {"gone", "device back at 19200 baud"},
              19200},
        // While the unit is away the search stands still; it comes back at the rate found.
        TCase{"AUnitSwitchedOffIsWaitedForAtItsRate",
              38400,
              TLinkKeeper::AutoBaud,
              TPull::Power,
              {"searching at 38400 baud", "gone", "device back at 38400 baud"},
              38400}),
    [](const auto& info) { return std::string(info.param.Name); });

// A silence of the line at the unit's own rate: the frame before it and, at a fixed rate, the
// frame after it reach the owner; the search after it tries the rate that last worked at every
// other step. The unit sends 20 frames a second, so a silence of 30 frames spans several ticks.
struct TSilenceCase {
    const char* Name;
    uint32_t Baud;  // the keeper's: the unit's 38400 or the search
    int Frames;     // frames the unit leaves out
};

void PrintTo(const TSilenceCase& c, std::ostream* os) {
    *os << c.Name;
}

class LinkSilence : public ::testing::TestWithParam<TSilenceCase> {
  protected:
    static constexpr uint64_t SilenceAt = 60;  // the unit's second

    void SetUp() override {
        config_.Speed = 20;
        config_.Baud = 38400;
        config_.LinkPath = testing::TempDir() + "silence_" + std::to_string(getpid());
        config_.Actions.push_back({SilenceAt, TActionKind::Silence, double(GetParam().Frames)});
        sim_ = std::make_unique<TDigitizerSim>(config_);
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
    }
    void TearDown() override {
        keeper_.Close();
        sim_->Stop();
    }
    std::vector<uint32_t> Counts() {
        std::lock_guard lock(mutex_);
        return counts_;
    }

    TSimConfig config_;
    std::unique_ptr<TDigitizerSim> sim_;
    std::mutex mutex_;
    std::vector<uint32_t> counts_;  // block counts in the order posted
    TLinkKeeper keeper_{[this](TDataBlock* block, uint32_t) {
        std::lock_guard lock(mutex_);
        counts_.push_back(block->Header->BlockCount);
        FreeBlock(block);
        return true;
    }};
};

TEST_P(LinkSilence, KeepsTheFramesAroundIt) {
    const TSilenceCase& c = GetParam();
    // The keeper's clock runs three times as fast as the wall's, as in LinkKeeper.
    auto now = TLinkKeeper::TClock::now();
    ASSERT_TRUE(keeper_.Open(1, config_.LinkPath, c.Baud, now)) << keeper_.LastOpenError();
    std::vector<uint32_t> searched;  // the rates searched after the silence began
    const uint32_t last = uint32_t(SilenceAt) + uint32_t(c.Frames) + 20;
    for (int pass = 0; pass < 1500; ++pass) {
        std::this_thread::sleep_for(10ms);
        now += 30ms;
        const std::vector<uint32_t> counts = Counts();
        for (const auto& event : keeper_.Service(now)) {
            // Once blocks have come, every search is the one after the silence.
            if (event.Kind == TKind::Searching && !counts.empty()) {
                searched.push_back(event.Baud);
            }
        }
        if (!counts.empty() && counts.back() >= last) {
            break;
        }
    }
    const std::vector<uint32_t> counts = Counts();
    ASSERT_FALSE(counts.empty());
    ASSERT_GE(counts.back(), last) << "the blocks did not come back";
    auto has = [&](uint32_t count) {
        return std::find(counts.begin(), counts.end(), count) != counts.end();
    };
    // The frame of the unit's second s has the count s + 1: the silent frames are those of the
    // seconds SilenceAt to SilenceAt + Frames - 1.
    const uint32_t first = counts.front();
    const uint32_t silent = uint32_t(SilenceAt) + 1;
    for (uint32_t n = first; n < silent; ++n) {
        EXPECT_TRUE(has(n)) << "block " << n << " before the silence lost";
    }
    for (uint32_t n = silent; n < silent + uint32_t(c.Frames); ++n) {
        EXPECT_FALSE(has(n)) << "block " << n << " of the silence came";
    }
    if (c.Baud != TLinkKeeper::AutoBaud) {
        for (uint32_t n = silent + uint32_t(c.Frames); n <= last; ++n) {
            EXPECT_TRUE(has(n)) << "block " << n << " after the silence lost";
        }
    } else {
        // last, r1, last, r2, ...: every second rate tried is the unit's, the others differ.
        for (size_t k = 0; k < searched.size(); ++k) {
            if (k % 2 == 1) {
                EXPECT_EQ(searched[k], 38400u) << k;
            } else {
                EXPECT_NE(searched[k], 38400u) << k;
            }
        }
        EXPECT_EQ(keeper_.BaudRate(), 38400u);
    }
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkSilence,
                         ::testing::Values(TSilenceCase{"ShortAtAFixedRate", 38400, 3},
                                           TSilenceCase{"LongAtAFixedRate", 38400, 40},
                                           TSilenceCase{"ShortInTheSearch", 0, 3},
                                           TSilenceCase{"LongInTheSearch", 0, 40}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
