// The link keeper driven as a program's loop drives it, against the simulator on a
// pseudo-terminal: the baud search, a fixed rate, and a device that goes away and comes back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
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
                keeper_.BlockArrived();
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
    TLinkKeeper keeper_{[this](TDataBlock* block) {
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

}  // namespace
