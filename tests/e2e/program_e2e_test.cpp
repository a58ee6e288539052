// The kestrel32 program as a process against the digitizer-sim program: the baud search, and
// a cable pulled and plugged back. What the program does on the line shows in the unit's
// journal (the line rates it sets, each kept only while blocks arrive: without them the
// watchdog moves on after two ticks of 1.1 s), what it reads and the CPU it uses in /proc.
#include <signal.h>

#include <thread>

#include "support/e2e_fixture.h"

using namespace std::chrono_literals;

namespace {

class ProgramEndToEnd : public TEndToEndTest {
  protected:
    // The program is monitoring the unit at `baud`: for eight seconds in a row, far longer
    // than the watchdog waits for a block, it keeps the line at that rate and reads from it
    // every second. Tried again while the program is still looking for the unit.
    bool MonitorsAt(int baud, std::chrono::seconds timeout) {
        const auto deadline = TClock::now() + timeout;
        while (TClock::now() < deadline) {
            if (!WaitUntil([&] { return Journal().LineRate() == baud; }, 1s)) {
                continue;
            }
            const double since = Journal().LineRateSince();
            bool steady = true;
            for (int second = 0; second < 8 && steady; ++second) {
                const int64_t before = ProgramBytesRead();
                std::this_thread::sleep_for(1s);
                const TSimJournalRead journal = Journal();
                steady = ProgramBytesRead() - before >= 500 && journal.LineRate() == baud &&
                         journal.LineRateSince() == since;
            }
            if (steady) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(ProgramEndToEnd, TheSearchFindsAUnitAt57600AndTheRateIsSaved) {
    WriteSettings("[Comms]\nPort=1\nBaud=19200\n");
    StartSim({"--baud", "57600", "--speed", "5"});
    StartProgram();
    ASSERT_TRUE(MonitorsAt(57600, 60s)) << Program().Errors();
    // Before it, the saved rate and the next of the cycle; nothing else. (Closing the device
    // gives it back the unit's own settings, so 57600 shows between the others.)
    std::vector<int> tried;
    for (const auto& [seconds, baud] : Journal().LineRates()) {
        if (baud != 57600 && (tried.empty() || tried.back() != baud)) {
            tried.push_back(baud);
        }
    }
    EXPECT_EQ(tried, (std::vector<int>{19200, 38400}));

    // The session ends with a signal: the rate found is saved with the device.
    Program().Signal(SIGTERM);
    ASSERT_EQ(Program().Wait(10s), 0) << Program().Errors();
    const TIniFile ini = SavedSettings();
    EXPECT_EQ(ini.Get("Comms", "Baud"), "57600");
    EXPECT_EQ(ini.Get("Comms", "Device"), LinkPath());
}

TEST_F(ProgramEndToEnd, APulledCableCostsNoCpuAndThePluggedBackUnitIsMonitoredAgain) {
    WriteSettings("[Comms]\nPort=1\nBaud=19200\n");
    const std::vector<std::string> unit = {"--speed", "1.5"};
    StartSim(unit);
    StartProgram();
    ASSERT_TRUE(MonitorsAt(19200, 30s)) << Program().Errors();

    // The cable is pulled: the device hangs up under the program, which keeps it open until
    // the watchdog has counted down the blocks it got ahead by, then looks for the unit on a
    // path that leads nowhere. None of it may keep a core busy.
    KillSim();
    const double cpuBefore = ProgramCpuSeconds();
    const auto start = TClock::now();
    std::this_thread::sleep_for(5s);
    const double cpu = ProgramCpuSeconds() - cpuBefore;
    const double elapsed = std::chrono::duration<double>(TClock::now() - start).count();
    EXPECT_LT(cpu, 0.25 * elapsed) << cpu << " s of CPU in " << elapsed << " s";
    ASSERT_EQ(Program().Wait(0ms), -1) << "the program is still there: " << Program().Errors();

    // Plugged back in: the same unit on the same path. The program finds it by itself.
    StartSim(unit);
    EXPECT_TRUE(MonitorsAt(19200, 60s)) << Program().Errors();
    Program().Signal(SIGTERM);
    ASSERT_EQ(Program().Wait(10s), 0) << Program().Errors();
    EXPECT_EQ(SavedSettings().Get("Comms", "Baud"), "19200");
}

}  // namespace
