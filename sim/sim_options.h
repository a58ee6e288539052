// The command line of the digitizer-sim program.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_config.h"

struct TSimOptions {
    TSimConfig Config;
    bool Help = false;
    std::string Error;  // empty when the command line was understood
};

// Parses the arguments after the program name. Both "--rate 100" and "--rate=100" are taken.
TSimOptions ParseSimOptions(const std::vector<std::string>& args);

// The usage text printed by --help.
std::string SimUsage(std::string_view program);

// The fault kind named `name` ("corrupt", "drop", "split-echo", "mod-in-samples", "silence",
// "reopen"); false for another name.
bool ParseFaultKind(std::string_view name, TFaultKind& kind);
