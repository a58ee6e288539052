// The link's send path on a real pseudo-terminal, with the test playing the
// digitizer: what each command puts on the line, send counts, echoes.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <thread>

#include "digitizer/digitizer.h"
#include "support/pty_pair.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

Bytes Cmd(const char* letters, std::initializer_list<int> args = {}) {
    Bytes out(letters, letters + 3);
    for (int v : args) {
        out.push_back(static_cast<uint8_t>(v));
    }
    return out;
}

struct LinkOnPty : ::testing::Test {
    TPtyPeer peer;
    std::unique_ptr<TDigitizer> link;

    void SetUp() override {
        link = std::make_unique<TDigitizer>(
            1, 19200,
            [](TDataBlock* b) {
                FreeBlock(b);
                return true;
            },
            peer.SlavePath());
        ASSERT_NE(link->Port(), nullptr);
        ASSERT_TRUE(link->Port()->IsOpen()) << link->Port()->OpenErrorText();
    }

    // Reads one command of `length` bytes from the line.
    Bytes Next(size_t length) {
        Bytes got;
        peer.ReadUntil(
            got, [&](const Bytes& r) { return r.size() >= length; }, 3s);
        return got;
    }

    // Plays the digitizer: echoes the three letters of what arrived.
    void Echo(const Bytes& command) { peer.Write(Bytes(command.begin(), command.begin() + 3)); }
};

}  // namespace

// Every builder's bytes reach the line in queue order; each echo removes its
// command, so the next one follows at once.
TEST_F(LinkOnPty, EveryCommandPutsItsBytesOnTheLine) {
    const std::vector<std::pair<std::function<void()>, Bytes>> cases = {
        {[&] { link->SetCalibration(5); }, Cmd("$CA", {0, 5})},
        {[&] { link->SetPllCalibration(3); }, Cmd("$CP", {0, 3})},
        {[&] { link->SetBaudRate(7); }, Cmd("$BA", {0, 7})},
        {[&] { link->ConfirmBaud(); }, Cmd("$OK")},
        {[&] { link->SetBytesPerSample(2); }, Cmd("$NB", {0, 2})},
        {[&] { link->SetSampleRate(100); }, B({'$', 'S', 'F', 3, 6, '$', 'S', 'F', 4, 5})},
        {[&] { link->SetComponents(0x0017); }, Cmd("$SC", {0x00, 0x17})},
        {[&] { link->SetComponents(0x3F3F); }, Cmd("$SC", {0x3F, 0x3F})},
        {[&] { link->SetFilterType(2); }, Cmd("$FT", {0, 2})},
        {[&] { link->SetLineOutput(3); }, Cmd("$LI", {0, 3})},
        {[&] { link->SetPowerSupplies(2); }, Cmd("$SP", {0, 2})},
        {[&] { link->WriteRom(); }, Cmd("$RW")},
        {[&] { link->RestoreDefaults(); }, Cmd("$RD")},
        {[&] { link->SetEnhancedHeader(true); }, Cmd("$EM", {0, 1})},
        {[&] { link->SetEnhancedHeader(false); }, Cmd("$EM", {0, 0})},
        {[&] { link->SendPC0(); }, Cmd("$PC", {0, 0})},
        {[&] { link->SendPC1(); }, Cmd("$PC", {0, 1})},
        {[&] { link->Reboot(); }, Cmd("$BR", {0, 0})},
        {[&] { link->ReadSerialNumber(); }, Cmd("$UR", {0x00, 0x00, 0x0F, 0xF8, 0x00, 0x04})},
        {[&] {
             const uint8_t data[] = {0x12, 0x34, 0x56, 0x78};
             link->WriteMemory(0x0100, 4, data);
         },
         Cmd("$DR", {0x00, 0x00, 0x00, 0x80, 0x00, 0x02, 0x12, 0x34, 0x56, 0x78})},
    };
    for (const auto& [build, expected] : cases) {
        build();
    }
    EXPECT_EQ(link->PendingWrites(), 1);
    for (const auto& [build, expected] : cases) {
        Bytes got = Next(expected.size());
        ASSERT_EQ(got, expected);
        if (got[1] == 'D' && got[2] == 'R') {
            peer.Write(B({'$', 'D', 'R', 0x68, 0xAC}));  // 0x1234 + 0x5678
        } else {
            Echo(got);
        }
    }
    EXPECT_TRUE(WaitFor([&] { return link->QueueLength() == 0; }, 2s));
    EXPECT_EQ(link->PendingWrites(), 0);
    EXPECT_EQ(link->RxPos(), 0) << "echo bytes entered the receive buffer";
}

// Each byte written by the peer gives the reader thread one more pass; the
// counts below hold however many further passes time-outs add.
TEST_F(LinkOnPty, SendCountsAreHonouredOverPasses) {
    auto drivePasses = [&](int passes) {
        Bytes line;
        for (int pass = 0; pass < passes; ++pass) {
            peer.Write("x");
            Bytes got = peer.ReadFor(60ms);
            line.insert(line.end(), got.begin(), got.end());
        }
        return line;
    };

    link->SetCalibration(1);  // three sends, dropped at the fourth pass
    EXPECT_EQ(CountOccurrences(drivePasses(6), "$CA"), 3);
    EXPECT_EQ(link->QueueLength(), 0);

    link->SendBH(2);  // two separate one-shot entries
    EXPECT_EQ(link->QueueLength(), 2);
    EXPECT_EQ(CountOccurrences(drivePasses(6), "$BH"), 2);
    EXPECT_EQ(link->QueueLength(), 0);

    link->ReadMemory(0x0200, 4);  // sent on every pass until echoed
    EXPECT_EQ(link->ReadBackMode(), 2);
    EXPECT_GE(CountOccurrences(drivePasses(5), "$UR"), 5);
    EXPECT_EQ(link->QueueLength(), 1);
    peer.Write("$UR");
    EXPECT_TRUE(WaitFor([&] { return link->QueueLength() == 0; }, 2s));
    EXPECT_EQ(link->ReadBackMode(), 1);
}

TEST_F(LinkOnPty, EchoesAreMatchedOnlyWhole) {
    // An echo after the first send removes the command; its bytes are not stored.
    link->SetCalibration(4);
    EXPECT_EQ(Next(5), Cmd("$CA", {0, 4}));
    peer.Write("$CA");
    EXPECT_TRUE(WaitFor([&] { return link->QueueLength() == 0; }, 2s));
    EXPECT_EQ(link->RxPos(), 0);

    // An echo split across two reads is not recognised and becomes data.
    link->SetPllCalibration(2);
    EXPECT_EQ(Next(5), Cmd("$CP", {0, 2}));
    peer.Write("$C");
    std::this_thread::sleep_for(100ms);
    peer.Write("P");
    EXPECT_TRUE(WaitFor([&] { return link->RxPos() == 3; }, 2s));
    EXPECT_EQ(link->QueueLength(), 1);
    link->Stop();
    link->Start(1, 19200);
    peer.ReadFor(100ms);  // the resends of the unmatched command

    // A memory write echo with the wrong sum leaves the command to be sent again.
    const uint8_t data[] = {0x12, 0x34, 0x56, 0x78};
    link->WriteMemory(0x0100, 4, data);
    Bytes first = Next(13);
    ASSERT_EQ(first.size(), 13u);
    peer.Write(B({'$', 'D', 'R', 0x68, 0xAD}));
    Bytes again = Next(13);
    EXPECT_EQ(again, first);
    EXPECT_EQ(link->PendingWrites(), 1);
    peer.Write(B({'$', 'D', 'R', 0x68, 0xAC}));
    EXPECT_TRUE(WaitFor([&] { return link->PendingWrites() == 0; }, 2s));
    EXPECT_EQ(link->QueueLength(), 0);
}

TEST_F(LinkOnPty, MemoryReadCapturesTheRawAnswerUntilTheNextRemoval) {
    link->ReadSerialNumber();
    link->SendBH(1);
    EXPECT_EQ(Next(9), Cmd("$UR", {0x00, 0x00, 0x0F, 0xF8, 0x00, 0x04}));
    // The answer contains bytes that would otherwise look like a frame tag.
    peer.Write(B({'$', 'U', 'R', 'M', 'O', 'D', ' ', '1', '2', '3', 0x0A}));
    EXPECT_TRUE(WaitFor([&] { return link->ReadBackMode() == 1 && link->RxPos() == 8; }, 2s));
    peer.Write("$BH");
    EXPECT_TRUE(WaitFor([&] { return link->ReadBackMode() == 0; }, 2s));
    uint8_t capture[16] = {};
    ASSERT_EQ(link->CopyCapture(capture, 8), 8);
    EXPECT_EQ(Bytes(capture, capture + 8), B({'M', 'O', 'D', ' ', '1', '2', '3', 0x0A}));
}

TEST_F(LinkOnPty, StoppingFinishesThePassSoTheHeadCommandStillGoesOut) {
    link->SetBaudRate(6);
    link->Stop();
    Bytes line = peer.ReadFor(300ms);
    EXPECT_GE(CountOccurrences(line, std::string("$BA\0\6", 5)), 1);
    EXPECT_EQ(link->QueueLength(), 0);
    EXPECT_EQ(link->Port(), nullptr);
}

TEST_F(LinkOnPty, StopDiscardsTheQueueAndEndsAnyCapture) {
    link->ReadSerialNumber();
    link->SetCalibration(0);
    link->Stop();
    EXPECT_EQ(link->QueueLength(), 0);
    EXPECT_EQ(link->ReadBackMode(), 0) << "a discarded read would capture the next session";

    // Without a port a rate change is not queued; other commands are, until
    // the next stop discards them.
    link->SetSampleRate(100);
    EXPECT_EQ(link->QueueLength(), 0);
    link->SetCalibration(0);
    EXPECT_EQ(link->QueueLength(), 1);
    link->Stop();
    EXPECT_EQ(link->QueueLength(), 0);
}

TEST_F(LinkOnPty, StartAndStopInQuickSuccessionAreSafe) {
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(link->Start(1, i % 2 ? 115200 : 1200));
        if (i % 3 == 0) {
            link->SetCalibration(1);
        }
        link->Stop();
    }
    EXPECT_TRUE(link->Start(1, 19200));
}

TEST_F(LinkOnPty, ASecondLinkOnTheSameDeviceFailsToOpen) {
    TDigitizer second(1, 19200, nullptr, peer.SlavePath());
    ASSERT_NE(second.Port(), nullptr);
    EXPECT_FALSE(second.Port()->IsOpen());
    EXPECT_EQ(second.Port()->OpenResult().Error().Errno, EBUSY);
    EXPECT_FALSE(second.Start(1, 9600));
}

namespace {
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
}  // namespace

TEST_F(LinkOnPty, AHungUpDeviceDoesNotMakeTheReaderSpin) {
    link->SetCalibration(1);  // sends on the passes keep happening, once a second
    peer.Close();
    std::this_thread::sleep_for(100ms);
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(3s);
    const double used = ProcessCpuSeconds() - before;
    EXPECT_LT(used, 0.3) << "the reader thread used " << used << " s of CPU in 3 s";
    link->Stop();  // and it still stops promptly
    EXPECT_EQ(link->Port(), nullptr);
}

// Reopening the device must not throw away what the last pass of the session
// before wrote and the far end has not read yet (a baud change relies on it).
TEST_F(LinkOnPty, WhatTheLastPassSentSurvivesTheReopen) {
    constexpr int Sessions = 300;
    for (int i = 0; i < Sessions; ++i) {
        link->SetCalibration(i % 10);
        link->Stop();
        ASSERT_TRUE(link->Start(1, i % 2 ? 9600 : 19200));
    }
    Bytes line;
    peer.ReadUntil(
        line, [](const Bytes& r) { return CountOccurrences(r, "$CA") >= Sessions; }, 3s);
    EXPECT_EQ(CountOccurrences(line, "$CA"), Sessions);
}
