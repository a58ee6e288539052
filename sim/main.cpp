// digitizer-sim: the simulated digitizer on a pseudo-terminal, for trying the program
// without hardware.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "about/version.h"
#include "settings/command_line.h"
#include "sim/sim_options.h"
#include "sim/simulator.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t powerCycles = 0;

void OnStop(int) {
    stopRequested = 1;
}
void OnPowerCycle(int) {
    powerCycles = powerCycles + 1;
}

void Handle(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    // The bare name, as the other programs print theirs, whatever path started it.
    const char* const program = "digitizer-sim";
    const TSimOptions options = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
    TCommandScan scan;
    scan.Action = options.Help      ? TCommandAction::Help
                  : options.Version ? TCommandAction::Version
                                    : TCommandAction::Run;
    scan.Error = options.Error;
    if (const std::optional<int> answer =
            CommandLineAnswer(scan, program, SimUsage(program).c_str(), ProgramVersion)) {
        return *answer;
    }

    Handle(SIGINT, OnStop);
    Handle(SIGTERM, OnStop);
    Handle(SIGUSR1, OnPowerCycle);

    TDigitizerSim sim(options.Config);
    if (!sim.Start()) {
        std::fprintf(stderr, "%s: cannot create the device: %s\n", program,
                     sim.LastError().c_str());
        return 1;
    }
    std::string path = sim.DevicePath();
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(options.Config.Seconds);
    std::sig_atomic_t cyclesDone = 0;
    while (stopRequested == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (powerCycles != cyclesDone) {
            cyclesDone = powerCycles;
            sim.PowerCycle();
        }
        // A reopened device has a new path: print it as a line of its own.
        const std::string current = sim.DevicePath();
        if (!current.empty() && current != path) {
            path = current;
            std::printf("%s\n", path.c_str());
            std::fflush(stdout);
        }
        if (options.Config.Seconds > 0 && std::chrono::steady_clock::now() - start >= limit) {
            break;
        }
    }
    sim.Stop();
    return 0;
}
