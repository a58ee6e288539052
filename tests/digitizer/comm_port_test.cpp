#include "digitizer/comm_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/pty_pair.h"

using namespace std::chrono_literals;

namespace {

std::unique_ptr<TCommPort> OpenPort(const std::string& path, uint32_t baud = 19200) {
    return std::make_unique<TCommPort>(1, baud, 0, 0, 0, 0, 8, path);
}

}  // namespace

TEST(CommPort, PortNumbersNameSerialDevices) {
    EXPECT_EQ(DevicePathForPort(1), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForPort(12), "/dev/ttyS11");
    EXPECT_EQ(DevicePathForPort(255), "/dev/ttyS254");
    EXPECT_TRUE(IsSupportedBaudRate(1200));
    EXPECT_TRUE(IsSupportedBaudRate(115200));
    EXPECT_FALSE(IsSupportedBaudRate(14400));
    EXPECT_FALSE(IsSupportedBaudRate(0));
}

TEST(CommPort, OpensRawAtTheRequestedSpeedWithTheWriteLimitOfThatSpeed) {
    TPtyPeer peer;
    auto port = OpenPort(peer.SlavePath(), 57600);
    ASSERT_TRUE(port->IsOpen()) << port->OpenErrorText();
    EXPECT_EQ(peer.LineSpeed(), B57600);
    EXPECT_EQ(port->WriteMultiplier(), 0u);

    termios tio{};
    ASSERT_EQ(tcgetattr(port->Handle(), &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);

    // Bytes with line-discipline meaning arrive untouched in both directions.
    const std::vector<uint8_t> binary = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0x03, 0x7F, 0xFF};
    ASSERT_TRUE(port->Write(binary.data(), static_cast<int>(binary.size())));
    std::vector<uint8_t> got;
    ASSERT_TRUE(peer.ReadUntil(
        got, [&](auto& r) { return r.size() >= binary.size(); }, 2s));
    EXPECT_EQ(got, binary);
    peer.Write(binary);
    uint8_t buffer[16];
    ASSERT_TRUE(
        WaitFor([&] { return port->WaitForData(0) == TCommPort::TWaitResult::Readable; }, 2s));
    EXPECT_EQ(port->Read(buffer, sizeof buffer), static_cast<int>(binary.size()));
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + binary.size()), binary);
}

TEST(CommPort, WriteLimitFollowsTheRate) {
    TPtyPeer peer;
    EXPECT_EQ(TCommPort(1, 1200, 0, 0, 0, 0, 8, peer.SlavePath()).WriteMultiplier(), 16u);
    EXPECT_EQ(TCommPort(1, 9600, 0, 0, 0, 0, 8, peer.SlavePath()).WriteMultiplier(), 2u);
    EXPECT_EQ(TCommPort(1, 38400, 0, 0, 0, 0, 8, peer.SlavePath()).WriteMultiplier(), 0u);
}

TEST(CommPort, OpenFailuresLeaveNothingBehindAndExplainThemselves) {
    TPtyPeer peer;
    {
        auto first = OpenPort(peer.SlavePath());
        ASSERT_TRUE(first->IsOpen());
        auto second = OpenPort(peer.SlavePath());
        EXPECT_FALSE(second->IsOpen());
        EXPECT_EQ(second->OpenError(), EBUSY);
        EXPECT_NE(second->OpenErrorText().find(peer.SlavePath()), std::string::npos);
        EXPECT_TRUE(second->Close());
        second.reset();
        // Destroying the failed port did nothing to the first one.
        EXPECT_TRUE(first->IsOpen());
        const uint8_t byte = 'x';
        EXPECT_TRUE(first->Write(&byte, 1));
        EXPECT_EQ(peer.ReadFor(200ms).size(), 1u);
    }
    // Closed: the device can be opened again.
    EXPECT_TRUE(OpenPort(peer.SlavePath())->IsOpen());

    auto unsupported = OpenPort(peer.SlavePath(), 14400);
    EXPECT_FALSE(unsupported->IsOpen());
    unsupported.reset();
    EXPECT_TRUE(OpenPort(peer.SlavePath())->IsOpen()) << "a failed configuration kept the device";

    auto missing = OpenPort("/dev/kestrel-no-such-device");
    EXPECT_FALSE(missing->IsOpen());
    EXPECT_EQ(missing->OpenError(), ENOENT);
    EXPECT_NE(missing->OpenErrorText().find("/dev/kestrel-no-such-device"), std::string::npos);
    EXPECT_NE(missing->OpenErrorText().find("No such file"), std::string::npos);
}

TEST(CommPort, ReadTakesWhatIsWaitingUpToTheBufferAndNeverWaits) {
    TPtyPeer peer;
    auto port = OpenPort(peer.SlavePath());
    uint8_t buffer[2048];
    EXPECT_EQ(port->Read(buffer, 2048), 0);

    peer.Write(std::vector<uint8_t>(100, 'a'));
    ASSERT_TRUE(
        WaitFor([&] { return port->WaitForData(0) == TCommPort::TWaitResult::Readable; }, 2s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(port->Read(buffer, 2048), 100);
    EXPECT_EQ(port->Read(buffer, 2048), 0);

    peer.Write(std::vector<uint8_t>(3000, 'b'));
    int total = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            int n = port->Read(buffer, 2048);
            EXPECT_LE(n, 2048);
            total += n;
            return total == 3000;
        },
        2s));
}

TEST(CommPort, CloseWakesAndJoinsTheReaderEvenBeforeItRuns) {
    TPtyPeer peer;
    for (int i = 0; i < 20; ++i) {
        auto port = OpenPort(peer.SlavePath());
        ASSERT_TRUE(port->IsOpen());
        std::atomic<bool> finished{false};
        port->StartReader([&] {
            while (port->IsOpen()) {
                port->WaitForData(1000);
            }
            finished = true;
        });
        if (i % 2 == 1) {
            std::this_thread::sleep_for(5ms);  // let it reach its wait
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(port->Close());
        EXPECT_TRUE(finished) << "Close returned before its reader ended";
        EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms)
            << "Close waited for the reader's time-out instead of waking it";
        EXPECT_TRUE(port->Close());
    }
}

TEST(CommPort, AHungUpDeviceIsReportedAndTheWakeWaitDoesNotSpin) {
    TPtyPeer peer;
    auto port = OpenPort(peer.SlavePath());
    ASSERT_TRUE(port->IsOpen());
    peer.Close();
    auto result = port->WaitForData(1000);
    uint8_t buffer[64];
    EXPECT_TRUE(result == TCommPort::TWaitResult::HangUp ||
                (result == TCommPort::TWaitResult::Readable && port->Read(buffer, 64) == 0));
    const auto start = std::chrono::steady_clock::now();
    port->WaitForWake(150);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 140ms);
}
