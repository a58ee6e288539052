// The kestrel32 program as a process: its command line and its orderly end on
// signals, with the settings written as closing the window writes them.
#include <gtest/gtest.h>

#include <signal.h>

#include <QTemporaryDir>
#include <thread>

#include "main/model/ini_file.h"
#include "sim/simulator.h"
#include "support/child_process.h"

using namespace std::chrono_literals;

namespace {
const std::vector<std::string> Offscreen = {"QT_QPA_PLATFORM=offscreen"};
}

TEST(App, AnswersHelpAndVersionAndRefusesUnknownOptions) {
    TChild version({KESTREL32, "--version"}, Offscreen);
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(version.ReadLines(1, 1s), std::vector<std::string>{"kestrel32 1.1.4.0"});
    TChild help({KESTREL32, "--help"}, Offscreen);
    EXPECT_EQ(help.Wait(), 0);
    const auto lines = help.ReadLines(1, 1s);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("Usage: kestrel32", 0), 0u);
    TChild bad({KESTREL32, "--bogus"}, Offscreen);
    EXPECT_EQ(bad.Wait(), 2);
    EXPECT_NE(bad.Errors().find("unknown option"), std::string::npos);
}

TEST(App, EachEndingSignalClosesInOrderAndWritesTheSettings) {
    TSimConfig config;
    config.Speed = 5;
    config.Baud = 38400;
    TDigitizerSim sim(config);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QTemporaryDir dir;
        const std::string settings = dir.filePath("k.ini").toStdString();
        TChild app({KESTREL32, sim.DevicePath(), "--settings", settings}, Offscreen);
        // Long enough for the baud search to find the unit at 38400 (two ticks).
        std::this_thread::sleep_for(5s);
        app.Signal(signal);
        EXPECT_EQ(app.Wait(10s), 0) << "signal " << signal << ": " << app.Errors();
        TIniFile ini;
        ASSERT_TRUE(ini.Load(settings));
        EXPECT_EQ(ini.Get("Comms", "Device"), sim.DevicePath()) << "signal " << signal;
        EXPECT_EQ(ini.Get("Comms", "Baud"), "38400") << "signal " << signal;
        EXPECT_EQ(ini.Get("FFT", "Window"), "Blackman Harris");
    }
}
