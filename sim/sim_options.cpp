#include "sim/sim_options.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

struct TFaultName {
    const char* Name;
    TFaultKind Kind;
    double DefaultRate;
};

constexpr TFaultName FaultNames[] = {
    {"corrupt", TFaultKind::Corrupt, 0.1},      {"drop", TFaultKind::Drop, 0.1},
    {"split-echo", TFaultKind::SplitEcho, 1.0}, {"mod-in-samples", TFaultKind::ModInSamples, 0.1},
    {"silence", TFaultKind::Silence, 0.1},      {"reopen", TFaultKind::Reopen, 0.1},
};

constexpr std::string_view ValueOptions[] = {
    "--channels", "--rate", "--bytes", "--gps",  "--signal", "--baud",   "--speed",
    "--seconds",  "--link", "--fault", "--seed", "--memory", "--journal"};

bool TakesValue(std::string_view name) {
    for (std::string_view option : ValueOptions) {
        if (option == name) {
            return true;
        }
    }
    return false;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && !text.empty();
}

bool IsSettableRate(double rate) {
    for (double settable : SettableRates) {
        if (std::fabs(settable - rate) < 1e-9) {
            return true;
        }
    }
    return false;
}

bool IsBaudRate(int baud) {
    for (int known : UnitBaudRates) {
        if (known == baud) {
            return true;
        }
    }
    return false;
}

// Takes one option with its value; returns an error text, empty on success.
std::string TakeValue(TSimConfig& c, std::string_view name, std::string_view value) {
    if (name == "--channels") {
        if (!ParseNumber(value, c.Channels) || c.Channels < 1 || c.Channels > 6) {
            return "--channels must be 1 to 6";
        }
    } else if (name == "--rate") {
        if (!ParseNumber(value, c.Rate) || !IsSettableRate(c.Rate)) {
            return "--rate must be one of 0.1 0.2 0.5 1 2 4 5 10 20 25 40 50 75 100 120 125 150 "
                   "200 250 300 375 500 600 750 1000 3000";
        }
    } else if (name == "--bytes") {
        if (!ParseNumber(value, c.BytesPerSample) || c.BytesPerSample < 1 || c.BytesPerSample > 4) {
            return "--bytes must be 1 to 4";
        }
    } else if (name == "--gps") {
        if (value == "rmc") {
            c.Gps = TGpsForm::Rmc;
        } else if (value == "reports") {
            c.Gps = TGpsForm::Reports;
            c.Mde = true;
        } else if (value == "none") {
            c.Gps = TGpsForm::None;
        } else {
            return "--gps must be rmc, reports or none";
        }
    } else if (name == "--signal") {
        if (value == "sine") {
            c.Signal = TSignalKind::Sine;
        } else if (value == "counter") {
            c.Signal = TSignalKind::Counter;
        } else if (value == "noise") {
            c.Signal = TSignalKind::Noise;
        } else {
            return "--signal must be sine, counter or noise";
        }
    } else if (name == "--baud") {
        if (!ParseNumber(value, c.Baud) || !IsBaudRate(c.Baud)) {
            return "--baud must be one of 1200 2400 4800 9600 19200 38400 57600 115200";
        }
    } else if (name == "--speed") {
        if (!ParseNumber(value, c.Speed) || !(c.Speed > 0 && c.Speed <= 1000)) {
            return "--speed must be a number of frames per second above 0, at most 1000";
        }
    } else if (name == "--seconds") {
        if (!ParseNumber(value, c.Seconds) || !(c.Seconds >= 0 && c.Seconds < 1e9)) {
            return "--seconds must be 0 or more";
        }
    } else if (name == "--link") {
        if (value.empty()) {
            return "--link needs a path";
        }
        c.LinkPath = value;
    } else if (name == "--memory") {
        if (value.empty()) {
            return "--memory needs a path";
        }
        c.MemoryPath = value;
    } else if (name == "--journal") {
        if (value.empty()) {
            return "--journal needs a path";
        }
        c.JournalPath = value;
    } else if (name == "--seed") {
        if (!ParseNumber(value, c.Seed)) {
            return "--seed must be a whole number of 0 or more";
        }
    } else if (name == "--fault") {
        const size_t eq = value.find('=');
        TFaultRate fault;
        if (!ParseFaultKind(value.substr(0, eq), fault.Kind)) {
            return "--fault must be corrupt, drop, split-echo, mod-in-samples, silence or reopen, "
                   "optionally followed by =RATE";
        }
        for (const TFaultName& known : FaultNames) {
            if (known.Kind == fault.Kind) {
                fault.Rate = known.DefaultRate;
            }
        }
        if (eq != std::string_view::npos && (!ParseNumber(value.substr(eq + 1), fault.Rate) ||
                                             !(fault.Rate >= 0 && fault.Rate <= 1))) {
            return "--fault RATE must be a probability from 0 to 1";
        }
        c.Faults.push_back(fault);
    }
    return {};
}

}  // namespace

bool ParseFaultKind(std::string_view name, TFaultKind& kind) {
    for (const TFaultName& known : FaultNames) {
        if (name == known.Name) {
            kind = known.Kind;
            return true;
        }
    }
    return false;
}

TSimOptions ParseSimOptions(const std::vector<std::string>& args) {
    TSimOptions options;
    for (size_t i = 0; i < args.size() && options.Error.empty(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--mde") {
            options.Config.Mde = true;
        } else if (arg == "--boot") {
            options.Config.Boot = true;
        } else if (arg.starts_with("--")) {
            const size_t eq = arg.find('=');
            const std::string_view name = arg.substr(0, eq);
            if (!TakesValue(name)) {
                options.Error = "unknown option " + std::string(arg);
            } else if (eq != std::string_view::npos) {
                options.Error = TakeValue(options.Config, name, arg.substr(eq + 1));
            } else if (i + 1 < args.size()) {
                options.Error = TakeValue(options.Config, name, args[++i]);
            } else {
                options.Error = std::string(name) + " needs a value";
            }
        } else {
            options.Error = "unexpected argument " + std::string(arg);
        }
    }
    // Receiver reports travel in the enhanced header.
    if (options.Config.Gps == TGpsForm::Reports) {
        options.Config.Mde = true;
    }
    return options;
}

std::string SimUsage(std::string_view program) {
    return "Usage: " + std::string(program) +
           " [options]\n"
           "Plays a six-channel seismic digitizer on a pseudo-terminal. Prints the device path\n"
           "on its first line of output; SIGUSR1 switches the simulated unit off and on.\n"
           "\n"
           "  --channels N       channels 1 to 6 (3)\n"
           "  --rate R           samples per second per channel, one of 0.1 0.2 0.5 1 2 4 5 10\n"
           "                     20 25 40 50 75 100 120 125 150 200 250 300 375 500 600 750\n"
           "                     1000 3000 (100)\n"
           "  --bytes B          bytes per sample 1 to 4 (3)\n"
           "  --mde              send the enhanced header\n"
           "  --gps FORM         rmc, reports (implies --mde) or none (rmc)\n"
           "  --signal KIND      sine, counter or noise (sine); the sine and the noise sit on\n"
           "                     a DC offset that follows the channel's module temperature,\n"
           "                     which runs through a day every 1200 seconds of the unit's clock\n"
           "  --baud B           the unit's line rate, 1200 to 115200 (19200)\n"
           "  --speed F          frames per second of wall time; the unit's clock still\n"
           "                     advances one second per frame (1)\n"
           "  --seconds S        stop after S seconds; 0 runs until interrupted (0)\n"
           "  --link PATH        also make a symbolic link to the device at PATH\n"
           "  --boot             start with a power-up through the boot loader\n"
           "  --memory FILE      keep the boot loader's memory in FILE: loaded at start when\n"
           "                     it exists, saved at every reboot and power cycle and at exit\n"
           "  --fault KIND[=P]   inject a fault with probability P per frame: corrupt, drop,\n"
           "                     mod-in-samples, silence, reopen (0.1), split-echo (per echo, 1);\n"
           "                     may be repeated\n"
           "  --seed N           seed of the noise signal and the faults (1)\n"
           "  --journal FILE     write what the unit does to FILE, one line each, as it\n"
           "                     happens: every frame with its block count and whether it\n"
           "                     left whole, commands, echoes, line rates, power cycles\n"
           "  --help             show this text\n";
}
