// Power cycles through the boot loader, and the faults the simulator injects on demand.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "sim/boot_loader.h"
#include "sim/output_line.h"
#include "sim_fixture.h"
#include "support/pty_pair.h"
#include "support/sim_journal.h"

namespace {

using ms = std::chrono::milliseconds;

bool Contains(const std::vector<uint8_t>& bytes, std::string_view text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end(), [](uint8_t a, char b) {
               return a == static_cast<uint8_t>(b);
           }) != bytes.end();
}

using TSimulatorBoot = TSimFixture;
using TSimulatorFaults = TSimFixture;

TEST_F(TSimulatorBoot, PowerCycleRunsTheBootLoaderDialogue) {
    TSimConfig config = FastConfig();
    config.Baud = 38400;  // the boot loader talks at 19200 whatever the unit is set to
    Launch(config, 38400);
    ASSERT_NE(WaitAnyFrame(), nullptr);
    // Saved to ROM: the enhanced header. Not saved: 2 bytes per sample.
    ASSERT_TRUE(Send(Cmd("EM", {0, 1})));
    ASSERT_TRUE(Send(Cmd("RW")));
    ASSERT_TRUE(Send(Cmd("NB", {0, 2})));
    ASSERT_TRUE(WaitEcho("$NB"));

    sim_->PowerCycle();
    EXPECT_TRUE(sim_->State().InBootLoader);
    EXPECT_EQ(sim_->State().Baud, 19200);
    ASSERT_TRUE(probe_.SetBaud(19200));
    probe_.Discard();
    ASSERT_TRUE(
        probe_.ReadUntil([&] { return Contains(probe_.Received(), "Ready.\r\n"); }, ms(3000)));
    probe_.Received().clear();
    ASSERT_TRUE(Send(Cmd("BH")));
    ASSERT_TRUE(WaitEcho("$BH"));
    ASSERT_TRUE(Send(Cmd("PC", {0, 0})));
    ASSERT_TRUE(WaitEcho("$PC"));

    // The serial number read: the echo, then the 8 raw bytes.
    probe_.Received().clear();
    ASSERT_TRUE(probe_.Write(Cmd("UR", {0, 0, 0x0F, 0xF8, 0, 4})));
    ASSERT_TRUE(probe_.ReadUntil([&] { return probe_.Received().size() >= 11; }, ms(2000)));
    EXPECT_EQ(std::string(probe_.Received().begin(), probe_.Received().end()), "$UR00012345");
    probe_.Received().clear();
    ASSERT_TRUE(probe_.Write(Cmd("UR", {0, 0, 0x0F, 0xF0, 0, 4})));
    ASSERT_TRUE(probe_.ReadUntil([&] { return probe_.Received().size() >= 11; }, ms(2000)));
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(probe_.Received()[3 + i], static_cast<uint8_t>(~"00012345"[i]));
    }

    // A write of a new serial number: echoed with the word sum, then in memory.
    probe_.Received().clear();
    std::vector<uint8_t> write = Cmd("DR", {0, 0, 0x0F, 0xF8, 0, 4});
    for (char c : std::string("  987654")) {
        write.push_back(static_cast<uint8_t>(c));
    }
    ASSERT_TRUE(probe_.Write(write));
    // Words 0x2020, 0x3938, 0x3736, 0x3534 sum to 0xC5C2.
    ASSERT_TRUE(probe_.ReadUntil([&] { return probe_.Received().size() >= 5; }, ms(2000)));
    EXPECT_EQ(probe_.Received(), (std::vector<uint8_t>{'$', 'D', 'R', 0xC5, 0xC2}));
    const auto memory = sim_->ReadMemory(0x1FF0, 8);
    EXPECT_EQ(std::string(memory.begin(), memory.end()), "  987654");

    // Reboot: echo, "Ready." again, and without "$BH" the main firmware with the saved
    // settings at the unit's own rate, and the new serial number.
    probe_.Received().clear();
    ASSERT_TRUE(Send(Cmd("BR", {0, 0})));
    ASSERT_TRUE(WaitEcho("$BR"));
    ASSERT_TRUE(
        probe_.ReadUntil([&] { return Contains(probe_.Received(), "Ready.\r\n"); }, ms(3000)));
    ASSERT_TRUE(probe_.ReadUntil([&] { return !sim_->State().InBootLoader; }, ms(3000)));
    EXPECT_EQ(sim_->State().Baud, 38400);
    ASSERT_TRUE(probe_.SetBaud(38400));
    probe_.Discard();
    const TDataBlock* b = WaitAnyFrame();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Header->HasMde, 1);
    EXPECT_EQ(b->Header->BytesPerSample, 3);
    EXPECT_STREQ(b->Header->SerialNumber, "  987654");

    const auto log = sim_->ReceivedCommands();
    ASSERT_GE(log.size(), 9u);
    EXPECT_EQ(log[5].Name, "UR");
    EXPECT_EQ(log[5].Argument, (std::vector<uint8_t>{0, 0, 0x0F, 0xF8, 0, 4}));
}

TEST_F(TSimulatorBoot, WithoutTheHandshakeFramesResume) {
    TSimConfig config = FastConfig();
    config.Boot = true;
    Launch(config);
    EXPECT_TRUE(sim_->State().InBootLoader);
    ASSERT_TRUE(
        probe_.ReadUntil([&] { return Contains(probe_.Received(), "Ready.\r\n"); }, ms(3000)));
    // Commands before the handshake are answered too; only "$BH" keeps the boot loader.
    ASSERT_TRUE(Send(Cmd("PC", {0, 0})));
    ASSERT_TRUE(WaitEcho("$PC"));
    ASSERT_NE(WaitAnyFrame(), nullptr);
    EXPECT_FALSE(sim_->State().InBootLoader);
}

TEST(OutputLine, EchoesSlipInAtTheCurrentPositionInOrder) {
    TOutputLine line;
    TOutputLine::TSegment frame;
    frame.Bytes.assign(10, 'f');
    frame.Kind = TOutputLine::TKind::Frame;
    line.Append(frame);
    EXPECT_EQ(line.Take(4).Bytes.size(), 4u);

    TOutputLine::TSegment first;
    first.Bytes = {'$', 'C'};
    first.PauseAfter = ms(50);
    TOutputLine::TSegment rest;
    rest.Bytes = {'A'};
    TOutputLine::TSegment other;
    other.Bytes = {'$', 'N', 'B'};
    other.SwitchBaud = 38400;
    line.InsertEcho(first);
    line.InsertEcho(rest);
    line.InsertEcho(other);

    // The first part of a split echo ends its chunk and asks for a pause.
    TOutputLine::TChunk chunk = line.Take(100);
    EXPECT_EQ(std::string(chunk.Bytes.begin(), chunk.Bytes.end()), "$C");
    EXPECT_EQ(chunk.Pause, ms(50));
    // An echo that changes the rate ends its chunk too.
    chunk = line.Take(100);
    EXPECT_EQ(std::string(chunk.Bytes.begin(), chunk.Bytes.end()), "A$NB");
    EXPECT_EQ(chunk.SwitchBaud, 38400);
    EXPECT_TRUE(line.HasFrame());
    chunk = line.Take(100);
    EXPECT_EQ(std::string(chunk.Bytes.begin(), chunk.Bytes.end()), "ffffff");
    EXPECT_EQ(chunk.FramesCompleted, 1);
    EXPECT_TRUE(line.Empty());
}

TEST_F(TSimulatorFaults, DamagedFramesCostOnlyThemselves) {
    Launch(FastConfig());
    ASSERT_NE(WaitAnyFrame(), nullptr);
    for (TFaultKind fault : {TFaultKind::Corrupt, TFaultKind::Drop}) {
        const size_t failedBefore = probe_.FailedFrames();
        sim_->InjectFault(fault);
        uint32_t last = probe_.Frames().back()->Header->BlockCount;
        int gaps = 0;
        ASSERT_NE(WaitFrame([&](const TDataBlock& b) {
                      const uint32_t block = b.Header->BlockCount;
                      gaps += static_cast<int>(block - last - 1);
                      last = block;
                      return gaps > 0 && probe_.Frames().size() >= 3;
                  }),
                  nullptr);
        EXPECT_EQ(gaps, 1) << "exactly the damaged frame is missing";
        if (fault == TFaultKind::Corrupt) {
            EXPECT_GT(probe_.FailedFrames(), failedBefore);
        }
    }
}

TEST_F(TSimulatorFaults, TagInsideTheSamplesAndSplitEchoes) {
    Launch(FastConfig());
    ASSERT_NE(WaitAnyFrame(), nullptr);
    sim_->InjectFault(TFaultKind::ModInSamples);
    // "MOD" planted at a sample boundary of 3-byte samples is the sample 0x444F4D, which the
    // counter itself never reaches here.
    const int32_t planted = 0x444F4D * 256;
    uint32_t last = probe_.Frames().back()->Header->BlockCount;
    bool found = false;
    ASSERT_NE(WaitFrame([&](const TDataBlock& b) {
                  EXPECT_EQ(b.Header->BlockCount, last + 1) << "no frame lost";
                  last = b.Header->BlockCount;
                  const bool had = found;
                  for (int c = 0; c < 3; ++c) {
                      const auto& samples = b.Samples->Channel[c];
                      found = found ||
                              std::find(samples.begin(), samples.end(), planted) != samples.end();
                  }
                  return had;  // one more frame after the one with the tag
              }),
              nullptr);
    EXPECT_EQ(probe_.FailedFrames(), 0u);

    // A split echo arrives whole in the end.
    sim_->InjectFault(TFaultKind::SplitEcho);
    ASSERT_TRUE(Send(Cmd("OK")));
    EXPECT_TRUE(WaitEcho("$OK"));
}

TEST_F(TSimulatorFaults, RandomFaultsFollowTheirRate) {
    TSimConfig config = FastConfig();
    config.Faults = {{TFaultKind::Corrupt, 1.0}, {TFaultKind::ModInSamples, 0.0}};
    Launch(config);
    const uint64_t sent = sim_->FramesSent();
    ASSERT_TRUE(Until([&] { return sim_->FramesSent() >= sent + 8; }, ms(3000)));
    EXPECT_TRUE(probe_.Frames().empty()) << "every frame is damaged";
    EXPECT_GE(probe_.FailedFrames(), 4u);
}

TEST_F(TSimulatorFaults, SilenceAndReopen) {
    const std::string link = testing::TempDir() + "sim_reopen_" + std::to_string(getpid());
    TSimConfig config = FastConfig();
    config.LinkPath = link;
    config.UnplugMs = 2000;
    Launch(config);
    ASSERT_NE(WaitAnyFrame(), nullptr);

    sim_->InjectFault(TFaultKind::Silence);
    uint32_t last = probe_.Frames().back()->Header->BlockCount;
    uint32_t gap = 0;
    ASSERT_NE(WaitFrame([&](const TDataBlock& b) {
                  gap = b.Header->BlockCount - last - 1;
                  last = b.Header->BlockCount;
                  return gap > 0;
              }),
              nullptr);
    EXPECT_GE(gap, 2u) << "three frame periods without a byte";

    const std::string before = sim_->DevicePath();
    sim_->InjectFault(TFaultKind::Reopen);
    // The old device hangs up at once, and for a moment there is none: the link is gone.
    pollfd pfd{probe_.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 1000), 1);
    EXPECT_NE(pfd.revents & POLLHUP, 0);
    struct stat info {};
    EXPECT_NE(lstat(link.c_str(), &info), 0) << "the link outlived the device";
    EXPECT_TRUE(sim_->State().Unplugged);
    ASSERT_TRUE(WaitFor([&] { return !sim_->DevicePath().empty(); }, ms(5000)));
    const std::string after = sim_->DevicePath();
    EXPECT_NE(after, before);
    // The link follows the new device.
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(after, target);
    ASSERT_TRUE(probe_.Open(after, 19200));
    probe_.Discard();
    EXPECT_NE(WaitAnyFrame(), nullptr);
}

TEST_F(TSimulatorFaults, TheJournalSaysWhatBecameOfEveryFrame) {
    const std::string path = testing::TempDir() + "sim_journal_" + std::to_string(getpid());
    TSimConfig config = FastConfig();
    config.JournalPath = path;
    config.Faults = {{TFaultKind::Corrupt, 0.15}, {TFaultKind::Drop, 0.15}};
    Launch(config);
    ASSERT_NE(WaitAnyFrame(), nullptr);
    sim_->InjectFault(TFaultKind::ModInSamples);
    sim_->InjectFault(TFaultKind::SplitEcho);
    ASSERT_TRUE(Send(Cmd("NB", {0, 3})));
    ASSERT_TRUE(WaitEcho("$NB"));
    ASSERT_TRUE(Until([&] { return probe_.Frames().size() >= 40; }, ms(10000)));
    sim_->Stop();

    const TSimJournalRead journal = TSimJournalRead::Load(path);
    std::remove(path.c_str());
    std::set<uint32_t> decoded;
    for (const auto& block : probe_.Frames()) {
        decoded.insert(block->Header->BlockCount);
    }
    int intact = 0, damaged = 0, tagged = 0;
    for (const auto& frame : journal.Frames()) {
        // The first frame may have begun before the probe listened; the last may be on its way.
        if (frame.BlockCount <= *decoded.begin() || frame.BlockCount > *decoded.rbegin()) {
            continue;
        }
        if (frame.Intact) {
            ++intact;
            tagged += frame.TagInSamples ? 1 : 0;
            EXPECT_TRUE(decoded.count(frame.BlockCount)) << "whole frame " << frame.BlockCount;
        } else if (frame.Damage == "corrupt" || frame.Damage == "drop") {
            ++damaged;
            EXPECT_FALSE(decoded.count(frame.BlockCount)) << "damaged frame " << frame.BlockCount;
        }
    }
    EXPECT_GE(intact, 20);
    EXPECT_GE(damaged, 2);
    EXPECT_EQ(tagged, 1);
    EXPECT_EQ(journal.CommandCount("NB"), 1);
    EXPECT_EQ(journal.EchoCount("NB"), 1);
    EXPECT_EQ(journal.SplitEchoCount(), 1);
    EXPECT_EQ(journal.LineRate(), 19200);
    ASSERT_FALSE(journal.Lines().empty());
    EXPECT_EQ(journal.Lines().back().Words, std::vector<std::string>{"stopped"});
}

}  // namespace

namespace {

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(SimulatorMemory, TheMemoryFileLoadsAtStartAndIsSavedAtPowerCyclesAndStop) {
    const std::string path = ::testing::TempDir() + "sim_memory_" + std::to_string(getpid());
    std::remove(path.c_str());
    TSimConfig config;
    config.MemoryPath = path;
    {
        TDigitizerSim sim(config);
        ASSERT_TRUE(sim.Start()) << sim.LastError();  // no file yet: the configured number
        sim.WriteMemory(0x10FFEE, {0xAB, 0xCD});
        sim.PowerCycle();
        const auto saved = FileBytes(path);
        ASSERT_EQ(saved.size(), MemorySize);
        EXPECT_EQ(saved[0x10FFEE], 0xAB);
        EXPECT_EQ(std::string(saved.begin() + 0x1FF0, saved.begin() + 0x1FF8), "00012345");
        sim.WriteMemory(0x100, {0x12, 0x34});
        sim.Stop();
        EXPECT_EQ(FileBytes(path)[0x101], 0x34);
    }
    {
        // The file's memory wins over the configured serial number.
        config.SerialNumber = "99999999";
        TDigitizerSim sim(config);
        ASSERT_TRUE(sim.Start()) << sim.LastError();
        EXPECT_EQ(sim.ReadMemory(0x10FFEE, 2), (std::vector<uint8_t>{0xAB, 0xCD}));
        EXPECT_EQ(sim.ReadMemory(0x100, 2), (std::vector<uint8_t>{0x12, 0x34}));
        const auto serial = sim.ReadMemory(0x1FF0, 8);
        EXPECT_EQ(std::string(serial.begin(), serial.end()), "00012345");
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "short";
    TDigitizerSim refused(config);
    EXPECT_FALSE(refused.Start());
    EXPECT_NE(refused.LastError().find("not a memory image"), std::string::npos)
        << refused.LastError();
    std::remove(path.c_str());
}
