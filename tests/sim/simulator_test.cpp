// The simulator on its real pseudo-terminal, driven from the slave side like the program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "sim/signals.h"
#include "sim_fixture.h"

namespace {

using ms = std::chrono::milliseconds;

size_t CountTags(const std::vector<uint8_t>& bytes) {
    size_t n = 0;
    for (size_t i = 0; i + 3 <= bytes.size(); ++i) {
        n += std::memcmp(&bytes[i], "MOD", 3) == 0 ? 1 : 0;
    }
    return n;
}

// Right-justified wire value of a decoded sample.
int32_t Wire(int32_t held, int bytes) {
    return held >> (32 - 8 * bytes);
}

using TSimulator = TSimFixture;

TEST_F(TSimulator, FramesDecodeOnlyAtTheUnitsLineRate) {
    Launch(FastConfig());
    const TDataBlock* first = WaitAnyFrame();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(probe_.FailedFrames(), 0u);
    const TBlockHeader& h = *first->Header;
    EXPECT_STREQ(h.DeviceId, "QF 5150-400 ");
    EXPECT_GT(std::strcmp(h.DeviceId, "QF 5150-310"), 0);  // so "MP" means minimal phase
    EXPECT_STREQ(h.SerialNumber, "2345");
    EXPECT_EQ(h.NumComponents, 3);
    EXPECT_EQ(h.TotalRate, 300);
    EXPECT_EQ(h.BytesPerSample, 3);
    EXPECT_STREQ(h.FilterType, "MP");
    EXPECT_EQ(h.GainCode[0], 'L');
    EXPECT_EQ(h.Decimation[0], 6);
    EXPECT_EQ(h.Decimation[1], 5);
    EXPECT_EQ(h.HasMde, 0);
    EXPECT_EQ(h.LastValidGpsBlock, static_cast<int32_t>(h.BlockCount));
    EXPECT_NEAR(h.SupplyVoltage, 12.0, 0.1);
    EXPECT_GT(h.SensorTemp, 20);
    EXPECT_LT(h.SensorTemp, 30);
    EXPECT_EQ(first->Gps->Present, 1);
    EXPECT_EQ(first->Gps->Source, 1);
    EXPECT_EQ(first->Gps->FixValid, 1);
    EXPECT_EQ(first->Sum->SumLength, 4u);
    EXPECT_EQ(first->Samples->Channel[0].size(), 100u);

    // At another rate the line carries only noise: bytes, but never a frame start.
    ASSERT_TRUE(probe_.SetBaud(9600));
    probe_.Discard();
    const uint64_t sent = sim_->FramesSent();
    ASSERT_TRUE(probe_.ReadUntil([&] { return sim_->FramesSent() >= sent + 6; }, ms(4000)));
    EXPECT_EQ(sim_->State().LineBaud, 9600);
    EXPECT_GT(probe_.Received().size(), 2000u);
    EXPECT_EQ(CountTags(probe_.Received()), 0u);
    EXPECT_EQ(probe_.TakeFrames(), 0u);

    // Back at the unit's rate, frames again.
    ASSERT_TRUE(probe_.SetBaud(19200));
    probe_.Discard();
    EXPECT_NE(WaitAnyFrame(), nullptr);
}

TEST_F(TSimulator, CounterStreamRunsOnAcrossFramesWithoutGaps) {
    TSimConfig config = FastConfig();
    config.Channels = 2;
    config.Rate = 0.5;
    config.BytesPerSample = 2;
    config.Speed = 40;
    Launch(config);
    uint64_t total = 0;
    uint32_t lastBlock = 0;
    int64_t next[2] = {-1, -1};
    ASSERT_NE(WaitFrame(
                  [&](const TDataBlock& b) {
                      const TBlockHeader& h = *b.Header;
                      EXPECT_EQ(h.TotalRate, -1);  // 0.5 per second on two channels
                      if (lastBlock != 0) {
                          EXPECT_EQ(h.BlockCount, lastBlock + 1);
                      }
                      lastBlock = h.BlockCount;
                      const size_t n = b.Samples->Channel[0].size();
                      EXPECT_LE(n, 1u);
                      total += n;
                      for (int c = 0; c < 2; ++c) {
                          for (size_t j = 0; j < n; ++j) {
                              const int32_t v = Wire(b.Samples->Channel[c][j], 2);
                              if (next[c] < 0) {
                                  // 16-bit counter: the first value tells k modulo 65536.
                                  next[c] = static_cast<uint16_t>(v - 1000 * c);
                              }
                              EXPECT_EQ(v, CounterValue(c, static_cast<uint64_t>(next[c]), 2));
                              ++next[c];
                          }
                      }
                      return total >= 8;
                  },
                  ms(8000)),
              nullptr);

    // Full rate, full width, six channels: sample k of channel c is the counter at k.
    TearDown();
    config = FastConfig();
    config.Channels = 6;
    config.BytesPerSample = 4;
    config.Rate = 100;
    Launch(config, 19200);
    uint64_t k = 0;
    int frames = 0;
    lastBlock = 0;
    ASSERT_NE(WaitFrame([&](const TDataBlock& b) {
                  const uint32_t block = b.Header->BlockCount;
                  if (lastBlock != 0) {
                      EXPECT_EQ(block, lastBlock + 1);
                  } else {
                      k = static_cast<uint32_t>(b.Samples->Channel[0][0]);
                  }
                  lastBlock = block;
                  for (int c = 0; c < 6; ++c) {
                      const auto& s = b.Samples->Channel[c];
                      EXPECT_EQ(s.size(), 100u);
                      for (size_t j = 0; j < s.size(); ++j) {
                          EXPECT_EQ(s[j], CounterValue(c, k + j, 4)) << "channel " << c;
                      }
                  }
                  k += 100;
                  return ++frames >= 4;
              }),
              nullptr);
}

TEST_F(TSimulator, EveryCommandIsEchoedAndConfigurationChangesTheFrames) {
    Launch(FastConfig());
    ASSERT_NE(WaitAnyFrame(), nullptr);

    // Six channels, channels 2 and 6 at high gain: "G" and the mask as a byte.
    ASSERT_TRUE(Send(Cmd("SC", {0x27, 0x17})));
    const TDataBlock* b =
        WaitFrame([](const TDataBlock& f) { return f.Header->NumComponents == 6; });
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(EchoSeen("$SC"));
    EXPECT_EQ(b->Header->GainCode[0], 'G');
    EXPECT_EQ(b->Header->GainCode[1], 0x22);
    EXPECT_EQ(b->Header->TotalRate, 600);
    EXPECT_EQ(b->Header->GainValue[1], 83886080 + 15000);  // a high-gain calibration value

    // Two channels with channel 1 at high gain: "G1".
    ASSERT_TRUE(Send(Cmd("SC", {0x00, 0x0B})));
    b = WaitFrame([](const TDataBlock& f) { return f.Header->NumComponents == 2; });
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b->Header->GainCode, "G1");

    // 10 samples per second: three sub-commands in one write, one echo each.
    ASSERT_TRUE(Send({'$', 'S', 'F', 3, 6, '$', 'S', 'F', 4, 10, '$', 'S', 'F', 5, 5}));
    ExpectEcho("$SF");
    ExpectEcho("$SF");
    b = WaitFrame([](const TDataBlock& f) { return f.Header->TotalRate == 20; });
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Samples->Channel[0].size(), 10u);
    EXPECT_EQ(b->Header->Decimation[0], 6);
    EXPECT_EQ(b->Header->Decimation[1], 10);

    ASSERT_TRUE(Send(Cmd("NB", {0, 2})));
    ASSERT_TRUE(Send(Cmd("EM", {0, 1})));
    ASSERT_TRUE(Send(Cmd("FT", {0, 0})));
    b = WaitFrame([](const TDataBlock& f) {
        return f.Header->BytesPerSample == 2 && f.Header->HasMde == 1 &&
               std::strcmp(f.Header->FilterType, "LP") == 0;
    });
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Header->Decimation[2], 5);
    EXPECT_EQ(b->Header->Decimation[3], 1);
    EXPECT_STREQ(b->Header->SerialNumber, "00012345");
    EXPECT_NEAR(b->Header->ModuleTemp[0], 25, 2);

    // The rest: each echoed, each visible in the unit's state.
    for (const auto& command :
         {Cmd("CA", {0, 4}), Cmd("CP", {0, 3}), Cmd("LI", {0, 3}), Cmd("SP", {0, 2}), Cmd("OK"),
          Cmd("RW"), Cmd("BH"), Cmd("PC", {0, 0}), Cmd("UR", {0, 0, 0x0F, 0xF8, 0, 4})}) {
        const std::string echo(command.begin(), command.begin() + 3);
        ASSERT_TRUE(Send(command));
        EXPECT_TRUE(WaitEcho(echo)) << echo;
    }
    const TSimState state = sim_->State();
    EXPECT_EQ(state.Calibration, 4);
    EXPECT_EQ(state.Pll, 3);
    EXPECT_EQ(state.LineOutput, 3);
    EXPECT_EQ(state.Supplies, 2);
    EXPECT_FALSE(state.InBootLoader);

    // Without the GPS supply the receiver loses its fix.
    b = WaitFrame([](const TDataBlock& f) { return f.Gps->FixValid == 0; });
    ASSERT_NE(b, nullptr);
    EXPECT_LT(b->Header->LastValidGpsBlock, static_cast<int32_t>(b->Header->BlockCount));

    // Restoring the defaults brings back three channels at 100 per second, 3 bytes.
    ASSERT_TRUE(Send(Cmd("RD")));
    b = WaitFrame([](const TDataBlock& f) {
        return f.Header->NumComponents == 3 && f.Header->TotalRate == 300 &&
               f.Header->BytesPerSample == 3 && f.Header->HasMde == 0;
    });
    ASSERT_NE(b, nullptr);

    const auto log = sim_->ReceivedCommands();
    ASSERT_GE(log.size(), 18u);
    EXPECT_EQ(log[0].Name, "SC");
    EXPECT_EQ(log[0].Argument, (std::vector<uint8_t>{0x27, 0x17}));
    EXPECT_EQ(log.back().Name, "RD");
}

TEST_F(TSimulator, RateChangeEchoesAtTheOldRateAndKeepsARacingCommand) {
    Launch(FastConfig());
    ASSERT_NE(WaitAnyFrame(), nullptr);
    ASSERT_TRUE(Send(Cmd("BA", {0, 5})));
    ASSERT_TRUE(WaitEcho("$BA"));  // heard at 19200
    ASSERT_TRUE(probe_.ReadUntil([&] { return sim_->State().Baud == 38400; }, ms(2000)));
    ASSERT_TRUE(probe_.SetBaud(38400));
    probe_.Discard();
    const TDataBlock* b = WaitAnyFrame();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(sim_->State().LineBaud, 38400);

    // As the program does it: the command written, the line switched at once. The unit
    // still takes the command as sent at the old rate.
    ASSERT_TRUE(Send(Cmd("BA", {0, 7}), false));
    ASSERT_TRUE(probe_.SetBaud(115200));
    ASSERT_TRUE(probe_.ReadUntil([&] { return sim_->State().Baud == 115200; }, ms(2000)));
    probe_.Discard();
    EXPECT_NE(WaitAnyFrame(), nullptr);

    // Bytes sent at a wrong rate long after a change are garbage to the unit.
    ASSERT_TRUE(probe_.SetBaud(9600));
    ASSERT_TRUE(probe_.ReadUntil([&] { return sim_->State().LineBaud == 9600; }, ms(1000)));
    const uint64_t sent = sim_->FramesSent();
    ASSERT_TRUE(probe_.ReadUntil([&] { return sim_->FramesSent() >= sent + 4; }, ms(2000)));
    // Written at 9600 and the line switched back at once: still garbage to the unit.
    ASSERT_TRUE(probe_.Write(Cmd("NB", {0, 1})));
    ASSERT_TRUE(probe_.SetBaud(115200));
    ASSERT_TRUE(probe_.ReadUntil([&] { return sim_->State().LineBaud == 115200; }, ms(1000)));
    ASSERT_TRUE(Send(Cmd("OK")));
    ASSERT_TRUE(WaitEcho("$OK"));
    const auto log = sim_->ReceivedCommands();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].Name, "BA");
    EXPECT_EQ(log[2].Name, "OK");
    EXPECT_EQ(sim_->State().BytesPerSample, 3);
}

TEST_F(TSimulator, ReceiverReportsOrNoGps) {
    TSimConfig config = FastConfig();
    config.Gps = TGpsForm::Reports;  // implies the enhanced header
    Launch(config);
    const TDataBlock* b = WaitAnyFrame();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Header->HasMde, 1);
    EXPECT_EQ(b->Gps->Present, 1);
    EXPECT_EQ(b->Gps->Source, 2);
    EXPECT_EQ(b->Gps->FixValid, 1);
    EXPECT_EQ(b->Gps->LatDegrees, 46);
    EXPECT_EQ(b->Gps->LonHemisphere, 'E');
    EXPECT_EQ(b->Gps->Altitude, 540);
    EXPECT_GE(b->Gps->Year, 2024);
    EXPECT_EQ(b->Gps->TimeOfDay, b->Gps->Hour * 3600 + b->Gps->Minute * 60 + b->Gps->Second);
    EXPECT_EQ(b->Header->LastValidGpsBlock, static_cast<int32_t>(b->Header->BlockCount));

    TearDown();
    config.Gps = TGpsForm::None;
    config.Mde = true;
    Launch(config);
    b = WaitAnyFrame();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Gps->Present, 0);
    EXPECT_EQ(b->Header->LastValidGpsBlock, -1);
}

TEST_F(TSimulator, GarbageOnTheLineIsSurvived) {
    Launch(FastConfig());
    ASSERT_NE(WaitAnyFrame(), nullptr);
    std::mt19937 rng(11);
    std::vector<uint8_t> garbage(20000);
    for (uint8_t& b : garbage) {
        b = static_cast<uint8_t>(rng());
    }
    ASSERT_TRUE(probe_.Write(garbage));
    // Once a second without bytes has cleared any half-read command, commands work again.
    const uint64_t sent = sim_->FramesSent();
    ASSERT_TRUE(probe_.ReadUntil([&] { return sim_->FramesSent() >= sent + 25; }, ms(4000)));
    ASSERT_TRUE(Send(Cmd("OK")));
    EXPECT_TRUE(WaitEcho("$OK"));
    EXPECT_NE(WaitAnyFrame(), nullptr);
}

TEST_F(TSimulator, StartStopAndLink) {
    const std::string link = testing::TempDir() + "sim_link_" + std::to_string(getpid());
    TSimConfig config = FastConfig();
    config.LinkPath = link;
    TDigitizerSim sim(config);
    sim.Stop();  // before Start: nothing to do
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(sim.Start());  // already running
    EXPECT_TRUE(sim.State().Running);
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(sim.DevicePath(), target);
    sim.Stop();
    sim.Stop();
    EXPECT_EQ(access(link.c_str(), F_OK), -1) << "the link goes with the device";
    EXPECT_EQ(sim.DevicePath(), "");
    EXPECT_FALSE(sim.State().Running);

    // A link path that is a real file is not replaced.
    FILE* file = std::fopen(link.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    TDigitizerSim blocked(config);
    EXPECT_FALSE(blocked.Start());
    EXPECT_NE(blocked.LastError(), "");
    unlink(link.c_str());

    for (int i = 0; i < 5; ++i) {
        TDigitizerSim quick(FastConfig());
        ASSERT_TRUE(quick.Start());
    }  // destroyed running
}

}  // namespace
