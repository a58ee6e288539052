// The kestrel32 program as a process: its command line beside the other programs', its
// orderly end on signals, with the settings written as closing the window writes them.
#include <gtest/gtest.h>

#include <signal.h>
#include <time.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "about/version.h"
#include "settings/ini_file.h"
#include "sim/simulator.h"
#include "support/child_process.h"

using namespace std::chrono_literals;

namespace {
const std::vector<std::string> Offscreen = {"QT_QPA_PLATFORM=offscreen"};
}

// Each program answers --help and --version alike, and names a typo in one line with the
// option it most likely meant.
TEST(Programs, EachAnswersHelpVersionAndATypoAlike) {
    struct TProgram {
        const char* Path;
        std::string Name;
        std::string Typo;
        std::string Meant;
    };
    const TProgram programs[] = {
        {KESTREL32, "kestrel32", "--simulat", "--simulate"},
        {DIGITIZER_DUMP, "digitizer-dump", "--blcoks", "--blocks"},
        {DIGITIZER_UPLOAD, "digitizer-upload", "--fitler", "--filter"},
        {DIGITIZER_SIM, "digitizer-sim", "--chanels", "--channels"},
        {DIGITIZER_STATION, "digitizer-station", "--archiv", "--archive"},
    };
    for (const TProgram& program : programs) {
        SCOPED_TRACE(program.Name);
        TChild version({program.Path, "--version"}, Offscreen);
        EXPECT_EQ(version.Wait(), 0);
        EXPECT_EQ(version.ReadLines(2, 200ms),
                  std::vector<std::string>{program.Name + " " + ProgramVersion});
        EXPECT_EQ(version.Errors(), "");

        TChild help({program.Path, "--help"}, Offscreen);
        EXPECT_EQ(help.Wait(), 0);
        const auto lines = help.ReadLines(1, 1s);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind("Usage: " + program.Name + " ", 0), 0u) << lines[0];
        EXPECT_EQ(help.Errors(), "");

        TChild typo({program.Path, program.Typo, "5"}, Offscreen);
        EXPECT_EQ(typo.Wait(), 2);
        EXPECT_EQ(typo.Errors(), program.Name + ": unknown option " + program.Typo +
                                     " (did you mean " + program.Meant + "?); see --help\n");
        EXPECT_TRUE(typo.ReadLines(1, 100ms).empty());
    }
}

// Without a display the window cannot open: said in one line, with the way to run without one.
TEST(App, SaysSoWhenThereIsNoDisplay) {
    TChild app({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                KESTREL32, "--simulate"});
    EXPECT_EQ(app.Wait(), 1);
    EXPECT_EQ(app.Errors(),
              "kestrel32: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); to run "
              "without a window, start it with QT_QPA_PLATFORM=offscreen\n");
}

// A device given by its name under /dev is that device, remembered; a name that is no device
// is refused, naming the ports present, and the saved device stays.
TEST(App, ADeviceNameIsTheDeviceUnderDevOrRefused) {
    QTemporaryDir dir;
    const std::string settings = dir.filePath("k.ini").toStdString();
    {
        TIniFile ini;
        ini.Set("Comms", "Port", "3");
        ini.Set("Comms", "Device", "/dev/kestrel-saved");
        ASSERT_TRUE(ini.Save(settings));
    }
    TChild wrong({KESTREL32, "kestrel-no-such-tty", "--settings", settings}, Offscreen);
    EXPECT_EQ(wrong.Wait(), 2);
    const std::string errors = wrong.Errors();
    EXPECT_EQ(errors.rfind("kestrel32: 'kestrel-no-such-tty' is neither a device path nor a port "
                           "number",
                           0),
              0u)
        << errors;
    EXPECT_NE(errors.find(" (--list-ports); see --help\n"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    TIniFile after;
    ASSERT_TRUE(after.Load(settings));
    EXPECT_EQ(after.Get("Comms", "Device"), "/dev/kestrel-saved");
    EXPECT_EQ(after.Get("Comms", "Port"), "3");

    // The simulator's device by its name under /dev (pts/N).
    TSimConfig config;
    config.Speed = 5;
    TDigitizerSim sim(config);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    ASSERT_EQ(sim.DevicePath().rfind("/dev/", 0), 0u);
    TChild app({KESTREL32, sim.DevicePath().substr(5), "--settings", settings}, Offscreen);
    std::this_thread::sleep_for(3s);
    app.Signal(SIGTERM);
    EXPECT_EQ(app.Wait(10s), 0) << app.Errors();
    ASSERT_TRUE(after.Load(settings));
    EXPECT_EQ(after.Get("Comms", "Device"), sim.DevicePath());
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
