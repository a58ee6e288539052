// The kestrel32 program as a process: its command line and its orderly end on
// signals, with the settings written as closing the window writes them.
#include <gtest/gtest.h>

#include <signal.h>
#include <time.h>

#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <thread>

#include "settings/ini_file.h"
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

TEST(App, RunReportGivesTheFirstPaintAndTheBlocksOnlyWhenAsked) {
    QTemporaryDir dir;
    const std::string settings = dir.filePath("k.ini").toStdString();
    std::vector<std::string> environment = Offscreen;
    environment.push_back("KESTREL32_RUN_REPORT=1");
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    TChild app({KESTREL32, "--simulate", "--settings", settings}, environment);
    // The built-in simulator sends a block a second: a few arrive.
    std::this_thread::sleep_for(4s);
    app.Signal(SIGTERM);
    ASSERT_EQ(app.Wait(10s), 0) << app.Errors();
    timespec after{};
    clock_gettime(CLOCK_MONOTONIC, &after);
    const std::string errors = app.Errors();

    double paintAt = 0;
    double cpu = 0;
    long blocks = -1;
    const size_t paint = errors.find("kestrel32: first paint at ");
    ASSERT_NE(paint, std::string::npos) << errors;
    ASSERT_EQ(std::sscanf(errors.c_str() + paint,
                          "kestrel32: first paint at %lf s monotonic, %lf s CPU", &paintAt, &cpu),
              2)
        << errors;
    const size_t count = errors.find(" blocks received", paint);
    ASSERT_NE(count, std::string::npos) << errors;
    const size_t lineStart = errors.rfind('\n', count) + 1;
    ASSERT_EQ(std::sscanf(errors.c_str() + lineStart, "kestrel32: %ld blocks received", &blocks),
              1);
    // The paint fell within the run, on the same clock; the CPU time is the process's own.
    EXPECT_GT(paintAt, before.tv_sec + before.tv_nsec * 1e-9);
    EXPECT_LT(paintAt, after.tv_sec + after.tv_nsec * 1e-9);
    EXPECT_GT(cpu, 0);
    EXPECT_LT(cpu, paintAt - (before.tv_sec + before.tv_nsec * 1e-9) + 1);
    EXPECT_GE(blocks, 1);
    EXPECT_EQ(errors.find("first paint", paint + std::strlen("kestrel32: first paint")),
              std::string::npos)
        << "reported once";

    // Without the variable the program says nothing of the kind.
    TChild quiet({KESTREL32, "--simulate", "--settings", settings}, Offscreen);
    std::this_thread::sleep_for(2s);
    quiet.Signal(SIGTERM);
    ASSERT_EQ(quiet.Wait(10s), 0);
    EXPECT_EQ(quiet.Errors().find("first paint"), std::string::npos);
    EXPECT_EQ(quiet.Errors().find("blocks received"), std::string::npos);
}
