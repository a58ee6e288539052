#include "digitizer/comm_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "support/pty_pair.h"

using namespace std::chrono_literals;

namespace {

std::unique_ptr<TCommPort> OpenPort(const std::string& path, uint32_t baud = 19200) {
    return std::make_unique<TCommPort>(1, baud, 0, 0, 0, 0, 8, path);
}

constexpr uid_t OrdinaryUser = 65534;

// Opens `path` as an ordinary user in a child process: 0 when it opened,
// otherwise the errno of the refusal.
int OpenAsOrdinaryUser(const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(OrdinaryUser) != 0 || setuid(OrdinaryUser) != 0) {
            _exit(255);
        }
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

bool SameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b) && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
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

// With the line's output stopped (as by an XOFF) nothing can be handed over,
// and a write waits its limit of 19200 / rate ms per byte before it gives up,
// not less; once the line runs again the port is still usable.
TEST(CommPort, AStuckWriteWaitsTheLimitOfItsRate) {
    using Clock = std::chrono::steady_clock;
    for (const auto& [baud, bytes, limit] : {std::tuple{1200u, 10, 160ms}, {9600u, 60, 120ms}}) {
        TPtyPeer peer;
        auto port = OpenPort(peer.SlavePath(), baud);
        ASSERT_TRUE(port->IsOpen()) << port->OpenErrorText();
        ASSERT_EQ(tcflow(port->Handle(), TCOOFF), 0);
        const std::vector<uint8_t> data(bytes, 'd');
        const auto start = Clock::now();
        port->Write(data.data(), bytes);
        EXPECT_GE(Clock::now() - start, limit) << baud << " bit/s";
        EXPECT_TRUE(peer.ReadFor(20ms).empty()) << "bytes passed a stopped line";
        ASSERT_EQ(tcflow(port->Handle(), TCOON), 0);
        ASSERT_TRUE(port->Write(data.data(), bytes));
        std::vector<uint8_t> got;
        EXPECT_TRUE(peer.ReadUntil(
            got, [&](const auto& r) { return r.size() >= data.size(); }, 2s));
    }
}

TEST(CommPort, OpenFailuresLeaveNothingBehindAndExplainThemselves) {
    TPtyPeer peer;
    {
        auto first = OpenPort(peer.SlavePath());
        ASSERT_TRUE(first->IsOpen());
        auto second = OpenPort(peer.SlavePath());
        EXPECT_FALSE(second->IsOpen());
        EXPECT_EQ(second->OpenResult().Error().Errno, EBUSY);
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
    EXPECT_EQ(missing->OpenResult().Error().Errno, ENOENT);
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
        std::atomic<bool> timedOut{false};
        port->StartReader([&] {
            while (port->IsOpen()) {
                // Long enough that only a wake-up can end it within the test.
                if (port->WaitForData(60000) == TCommPort::TWaitResult::Timeout) {
                    timedOut = true;
                }
            }
            finished = true;
        });
        if (i % 2 == 1) {
            std::this_thread::sleep_for(5ms);  // let it reach its wait
        }
        EXPECT_TRUE(port->Close());
        EXPECT_TRUE(finished) << "Close returned before its reader ended";
        EXPECT_FALSE(timedOut) << "Close waited for the reader's time-out instead of waking it";
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

TEST(CommPort, ARefusedSecondOpenerLeavesTheHoldersExclusiveFlag) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to open as another user";
    }
    TPtyPeer peer;
    ASSERT_EQ(chmod(peer.SlavePath().c_str(), 0666), 0);
    ASSERT_EQ(OpenAsOrdinaryUser(peer.SlavePath()), 0) << "an ordinary user cannot open it at all";
    {
        auto holder = OpenPort(peer.SlavePath());
        ASSERT_TRUE(holder->IsOpen()) << holder->OpenErrorText();
        EXPECT_EQ(OpenAsOrdinaryUser(peer.SlavePath()), EBUSY);
        // Root passes the exclusive flag and is stopped by the lock alone.
        auto second = OpenPort(peer.SlavePath());
        EXPECT_FALSE(second->IsOpen());
        EXPECT_EQ(second->OpenResult().Error().Errno, EBUSY);
        second.reset();
        EXPECT_EQ(OpenAsOrdinaryUser(peer.SlavePath()), EBUSY)
            << "the refused opener cleared the holder's exclusive flag";
    }
    EXPECT_EQ(OpenAsOrdinaryUser(peer.SlavePath()), 0) << "the holder left the flag set";
}

TEST(CommPort, LineSettingsAreRestoredAtClose) {
    TPtyPeer peer;
    termios before{};
    ASSERT_EQ(tcgetattr(peer.MasterFd(), &before), 0);
    // Settings a terminal program would leave: canonical, echoing, 9600 bit/s.
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_cc[VMIN] = 1;
    cfsetispeed(&before, B9600);
    cfsetospeed(&before, B9600);
    ASSERT_EQ(tcsetattr(peer.MasterFd(), TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(peer.MasterFd(), &before), 0);

    for (uint32_t baud : {57600u, 14400u}) {  // configured, and refused by the configuration
        auto port = OpenPort(peer.SlavePath(), baud);
        termios during{};
        ASSERT_EQ(tcgetattr(peer.MasterFd(), &during), 0);
        EXPECT_EQ(SameSettings(before, during), !port->IsOpen()) << baud;
        port.reset();
        termios after{};
        ASSERT_EQ(tcgetattr(peer.MasterFd(), &after), 0);
        EXPECT_TRUE(SameSettings(before, after)) << baud;
    }
}

TEST(CommPort, APathThatIsNoTerminalIsRefused) {
    char path[] = "/tmp/kestrel-not-a-terminal-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "data", 4), 4);
    close(fd);
    for (const std::string& device : {std::string(path), std::string("/dev/null")}) {
        auto port = OpenPort(device);
        EXPECT_FALSE(port->IsOpen()) << device;
        EXPECT_EQ(port->OpenResult().Error().Errno, ENOTTY) << device;
        EXPECT_NE(port->OpenErrorText().find(device), std::string::npos);
        EXPECT_NE(port->OpenErrorText().find("not a terminal device"), std::string::npos)
            << port->OpenErrorText();
    }
    struct stat st {};
    ASSERT_EQ(stat(path, &st), 0);
    EXPECT_EQ(st.st_size, 4);
    unlink(path);
}
