// The command line of the digitizer-sim program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_config.h"

struct TSimOptions {
    TSimConfig Config;
    bool Help = false;
    bool Version = false;
    std::string Error;  // empty when the command line was understood
};

// Parses the arguments after the program name (settings/command_line.h: "--rate 100" and
// "--rate=100" alike, the faults named).
TSimOptions ParseSimOptions(const std::vector<std::string>& args);

// The usage text printed by --help.
std::string SimUsage(std::string_view program);

// The fault kind named `name` ("corrupt", "drop", "split-echo", "mod-in-samples", "silence",
// "reopen"); false for another name.
bool ParseFaultKind(std::string_view name, TFaultKind& kind);

// A UTC time as --start takes it, "2024-12-31T23:59:30Z" (with or without the Z, a space
// allowed for the T), years 2000 to 2099, as seconds since 1970; false for anything else.
bool ParseUtcTime(std::string_view text, int64_t& seconds);

// One --at value, "T:ACTION": T the unit's second, ACTION rate=R, channels=N, reopen,
// silence=N, power-cycle, supply=V, temperature=C, gps=lost, gps=fix or calibration=M. The
// reason it is refused, empty on success.
std::string ParseScheduledAction(std::string_view text, TScheduledAction& action);
