// The whole link against the simulator on a pseudo-terminal: real reader
// thread, real frames, real echoes and line speeds.
#include <gtest/gtest.h>

#include <mutex>

#include "digitizer/digitizer.h"
#include "sim/signals.h"
#include "sim/simulator.h"
#include "support/pty_pair.h"

using namespace std::chrono_literals;

namespace {

struct TReceived {
    uint32_t BlockCount;
    int Channels;
    int Bytes;
    std::vector<std::vector<int32_t>> Samples;
};

class LinkAgainstSim : public ::testing::Test {
  protected:
    static TSimConfig Config() {
        TSimConfig config;
        config.Channels = 6;
        config.Rate = 50;
        config.BytesPerSample = 3;
        config.Mde = true;
        config.Signal = TSignalKind::Counter;
        config.Speed = 20;
        return config;
    }

    void Launch(const TSimConfig& config, uint32_t linkBaud = 19200) {
        sim_ = std::make_unique<TDigitizerSim>(config);
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        link_ = std::make_unique<TDigitizer>(
            1, linkBaud,
            [this](TDataBlock* block) {
                TReceived r{block->Header->BlockCount,
                            block->Header->NumComponents,
                            block->Header->BytesPerSample,
                            {}};
                for (int c = 0; c < r.Channels; ++c) {
                    r.Samples.push_back(block->Samples->Channel[c]);
                }
                FreeBlock(block);
                std::lock_guard lock(mutex_);
                received_.push_back(std::move(r));
                return true;
            },
            sim_->DevicePath());
        ASSERT_TRUE(link_->Port()->IsOpen()) << link_->Port()->OpenErrorText();
    }

    void TearDown() override {
        link_.reset();
        if (sim_) {
            sim_->Stop();
        }
    }

    size_t Count() {
        std::lock_guard lock(mutex_);
        return received_.size();
    }

    std::vector<TReceived> Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

    bool WaitBlocks(size_t n, std::chrono::milliseconds timeout = 10s) {
        return WaitFor([&] { return Count() >= n; }, timeout);
    }

    bool Sent(const std::string& name) {
        for (const auto& command : sim_->ReceivedCommands()) {
            if (command.Name == name) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<TDigitizerSim> sim_;
    std::unique_ptr<TDigitizer> link_;
    std::mutex mutex_;
    std::vector<TReceived> received_;
};

// Every sample of a counter stream, across frames, with nothing lost or doubled.
void ExpectContinuousCounter(const std::vector<TReceived>& blocks) {
    ASSERT_FALSE(blocks.empty());
    const int bytes = blocks[0].Bytes;
    const int shift = 32 - 8 * bytes;
    // Channel 0 holds k itself until it wraps: that gives the first block's place.
    uint64_t k = static_cast<uint32_t>(blocks[0].Samples[0][0]) >> shift;
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (b > 0) {
            ASSERT_EQ(blocks[b].BlockCount, blocks[b - 1].BlockCount + 1) << "block lost";
        }
        const size_t n = blocks[b].Samples[0].size();
        for (int c = 0; c < blocks[b].Channels; ++c) {
            ASSERT_EQ(blocks[b].Samples[c].size(), n);
            for (size_t j = 0; j < n; ++j) {
                const int32_t expected = static_cast<int32_t>(
                    static_cast<uint32_t>(CounterValue(c, k + j, bytes)) << shift);
                ASSERT_EQ(blocks[b].Samples[c][j], expected)
                    << "block " << blocks[b].BlockCount << " channel " << c << " sample " << j;
            }
        }
        k += n;
    }
}

}  // namespace

TEST_F(LinkAgainstSim, ACounterStreamArrivesWholeWhileCommandsAreEchoedInIt) {
    Launch(Config());
    ASSERT_TRUE(WaitBlocks(5));
    // Commands that leave the samples alone; their echoes land inside frames.
    link_->SetPllCalibration(2);
    link_->SetLineOutput(3);
    link_->SetPowerSupplies(3);
    link_->ConfirmBaud();
    ASSERT_TRUE(WaitBlocks(60, 20s));
    EXPECT_TRUE(WaitFor([&] { return link_->QueueLength() == 0; }, 5s));
    EXPECT_TRUE(Sent("CP") && Sent("LI") && Sent("SP") && Sent("OK"));
    EXPECT_EQ(sim_->State().LineOutput, 3);
    EXPECT_EQ(sim_->State().Supplies, 3);
    ExpectContinuousCounter(Received());
}

TEST_F(LinkAgainstSim, DamagedFramesCostOnlyThemselves) {
    Launch(Config());
    ASSERT_TRUE(WaitBlocks(3));
    sim_->InjectFault(TFaultKind::ModInSamples);
    ASSERT_TRUE(WaitBlocks(8));
    sim_->InjectFault(TFaultKind::Corrupt);
    ASSERT_TRUE(WaitBlocks(13));
    sim_->InjectFault(TFaultKind::Drop);
    ASSERT_TRUE(WaitBlocks(20));
    const auto blocks = Received();
    int missing = 0;
    for (size_t b = 1; b < blocks.size(); ++b) {
        missing += static_cast<int>(blocks[b].BlockCount - blocks[b - 1].BlockCount - 1);
    }
    EXPECT_EQ(missing, 2) << "the corrupted and the shortened frame, and nothing else";
}

TEST_F(LinkAgainstSim, FramesDecodeOnlyAtTheUnitsLineRate) {
    TSimConfig config = Config();
    config.Baud = 38400;
    Launch(config, 19200);
    std::this_thread::sleep_for(1500ms);  // 30 frame periods
    EXPECT_EQ(Count(), 0u) << "frames decoded at the wrong line rate";
    ASSERT_TRUE(link_->Start(1, 38400));
    EXPECT_TRUE(WaitBlocks(5));
}

TEST_F(LinkAgainstSim, ABaudChangeGoesOutAtTheOldRateAndTheUnitFollows) {
    Launch(Config(), 19200);
    ASSERT_TRUE(WaitBlocks(3));
    // What the Control page's baud button does: queue, then restart the link.
    link_->SetBaudRate(7);
    link_->Stop();
    ASSERT_TRUE(link_->Start(1, 115200));
    const size_t before = Count();
    ASSERT_TRUE(WaitBlocks(before + 5));
    EXPECT_EQ(sim_->State().Baud, 115200);
    link_->ConfirmBaud();
    EXPECT_TRUE(WaitFor([&] { return Sent("OK"); }, 5s));
}

TEST_F(LinkAgainstSim, ReconfiguringTheUnitChangesWhatTheBlocksCarry) {
    Launch(Config());
    ASSERT_TRUE(WaitBlocks(2));
    link_->SetComponents(0x0007 | 0x0010);  // channels 1-3, channel 2 at high gain
    link_->SetBytesPerSample(2);
    ASSERT_TRUE(WaitFor(
        [&] {
            auto blocks = Received();
            return !blocks.empty() && blocks.back().Channels == 3 && blocks.back().Bytes == 2;
        },
        10s));
    EXPECT_EQ(sim_->State().GainMask, 0x2);
}

TEST_F(LinkAgainstSim, BootLoaderDialogue) {
    TSimConfig config = Config();
    config.Boot = true;
    config.PowerUpDelayMs = 300;
    config.BootWaitMs = 2000;
    sim_ = std::make_unique<TDigitizerSim>(config);
    ASSERT_TRUE(sim_->Start()) << sim_->LastError();
    // The ready line follows the power-up after a moment, time enough to arm the wait.
    link_ = std::make_unique<TDigitizer>(1, 19200, nullptr, sim_->DevicePath());
    link_->SetBootWait(true);
    ASSERT_TRUE(WaitFor([&] { return !link_->BootWait(); }, 5s)) << "no ready line";
    link_->SendBH(5);
    link_->SendPC0();
    link_->ReadSerialNumber();
    link_->SendBH(1);
    ASSERT_TRUE(WaitFor([&] { return link_->ReadBackMode() == 0; }, 10s));
    uint8_t serial[8];
    ASSERT_EQ(link_->CopyCapture(serial, 8), 8);
    EXPECT_EQ(std::string(serial, serial + 8), config.SerialNumber);

    const uint8_t code[] = {0xDE, 0xAD, 0xBE, 0xEF};
    link_->WriteMemory(0x4000, 4, code);
    ASSERT_TRUE(WaitFor([&] { return link_->PendingWrites() == 0; }, 10s));
    EXPECT_EQ(sim_->ReadMemory(0x4000, 4), std::vector<uint8_t>(code, code + 4));

    link_->SendPC1();
    link_->Reboot();
    link_->SetBootWait(true);
    EXPECT_TRUE(WaitFor([&] { return !link_->BootWait(); }, 5s)) << "no ready line after reboot";
}
