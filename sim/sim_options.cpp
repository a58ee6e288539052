#include "sim/sim_options.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "settings/command_line.h"

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
            return "must be 1 to 6";
        }
    } else if (name == "--rate") {
        if (!ParseNumber(value, c.Rate) || !IsSettableRate(c.Rate)) {
            return "must be one of 0.1 0.2 0.5 1 2 4 5 10 20 25 40 50 75 100 120 125 150 "
                   "200 250 300 375 500 600 750 1000 3000";
        }
    } else if (name == "--bytes") {
        if (!ParseNumber(value, c.BytesPerSample) || c.BytesPerSample < 1 || c.BytesPerSample > 4) {
            return "must be 1 to 4";
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
            return "must be rmc, reports or none";
        }
    } else if (name == "--signal") {
        if (value == "sine") {
            c.Signal = TSignalKind::Sine;
        } else if (value == "counter") {
            c.Signal = TSignalKind::Counter;
        } else if (value == "noise") {
            c.Signal = TSignalKind::Noise;
        } else {
            return "must be sine, counter or noise";
        }
    } else if (name == "--baud") {
        if (!ParseNumber(value, c.Baud) || !IsBaudRate(c.Baud)) {
            return "must be one of 1200 2400 4800 9600 19200 38400 57600 115200";
        }
    } else if (name == "--speed") {
        if (!ParseNumber(value, c.Speed) || !(c.Speed > 0 && c.Speed <= 1000)) {
            return "must be a number of frames per second above 0, at most 1000";
        }
    } else if (name == "--seconds") {
        if (!ParseNumber(value, c.Seconds) || !(c.Seconds >= 0 && c.Seconds < 1e9)) {
            return "must be 0 or more";
        }
    } else if (name == "--link") {
        if (value.empty()) {
            return "needs a path";
        }
        c.LinkPath = value;
    } else if (name == "--serial") {
        if (value.empty() || value.size() > 8) {
            return "must be 1 to 8 characters";
        }
        c.SerialNumber = value;
    } else if (name == "--memory") {
        if (value.empty()) {
            return "needs a path";
        }
        c.MemoryPath = value;
    } else if (name == "--journal") {
        if (value.empty()) {
            return "needs a path";
        }
        c.JournalPath = value;
    } else if (name == "--start") {
        int64_t seconds = 0;
        if (!ParseUtcTime(value, seconds)) {
            return "must be a UTC time from 2000 to 2099 such as 2024-12-31T23:59:30Z "
                   "(the Z may be left out, the T may be a space)";
        }
        c.StartTime = seconds;
    } else if (name == "--at") {
        TScheduledAction action;
        if (std::string error = ParseScheduledAction(value, action); !error.empty()) {
            return error;
        }
        c.Actions.push_back(action);
    } else if (name == "--event") {
        TSimEvent event;
        if (std::string error = ParseSimEvent(value, event); !error.empty()) {
            return error;
        }
        c.Events.push_back(event);
    } else if (name == "--seed") {
        if (!ParseNumber(value, c.Seed)) {
            return "must be a whole number of 0 or more";
        }
    } else if (name == "--fault") {
        const size_t eq = value.find('=');
        TFaultRate fault;
        if (!ParseFaultKind(value.substr(0, eq), fault.Kind)) {
            return "must be corrupt, drop, split-echo, mod-in-samples, silence or reopen, "
                   "optionally followed by =RATE";
        }
        for (const TFaultName& known : FaultNames) {
            if (known.Kind == fault.Kind) {
                fault.Rate = known.DefaultRate;
            }
        }
        if (eq != std::string_view::npos && (!ParseNumber(value.substr(eq + 1), fault.Rate) ||
                                             !(fault.Rate >= 0 && fault.Rate <= 1))) {
            return "RATE must be a probability from 0 to 1";
        }
        c.Faults.push_back(fault);
    }
    return {};
}

// Exactly `width` decimal digits at `at`.
bool Digits(std::string_view text, size_t at, size_t width, int& value) {
    if (at + width > text.size()) {
        return false;
    }
    value = 0;
    for (size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

bool ParseUtcTime(std::string_view text, int64_t& seconds) {
    // 2024-12-31T23:59:30, optionally followed by Z.
    if (text.size() == 20 && text.back() == 'Z') {
        text.remove_suffix(1);
    }
    int year, month, day, hour, minute, second;
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':' ||
        !Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
        !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) ||
        !Digits(text, 17, 2, second)) {
        return false;
    }
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    // The GPS sentence carries two digits of the year.
    if (year < 2000 || year > 2099 || !date.ok() || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    const std::chrono::sys_days midnight{date};
    seconds =
        midnight.time_since_epoch() / std::chrono::seconds(1) + hour * 3600 + minute * 60 + second;
    return true;
}

std::string ParseScheduledAction(std::string_view text, TScheduledAction& action) {
    const std::string usage =
        "needs T:ACTION, T a second of the unit's clock (0 or more) and ACTION one of rate=R, "
        "channels=N, reopen, silence=N, power-cycle, supply=V, temperature=C, gps=lost, gps=fix, "
        "calibration=M";
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || !ParseNumber(text.substr(0, colon), action.At) ||
        action.At > 1'000'000'000'000) {
        return usage;
    }
    const std::string_view what = text.substr(colon + 1);
    const size_t eq = what.find('=');
    const std::string_view name = what.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? "" : what.substr(eq + 1);
    const bool hasValue = eq != std::string_view::npos;
    if (name == "reopen" && !hasValue) {
        action.Kind = TActionKind::Reopen;
    } else if (name == "power-cycle" && !hasValue) {
        action.Kind = TActionKind::PowerCycle;
    } else if (name == "rate" && hasValue) {
        action.Kind = TActionKind::Rate;
        if (!ParseNumber(value, action.Value) || !IsSettableRate(action.Value)) {
            return "R of rate=R must be one of the rates --rate takes";
        }
    } else if (name == "channels" && hasValue) {
        action.Kind = TActionKind::Channels;
        int channels = 0;
        if (!ParseNumber(value, channels) || channels < 1 || channels > 6) {
            return "N of channels=N must be 1 to 6";
        }
        action.Value = channels;
    } else if (name == "silence" && hasValue) {
        action.Kind = TActionKind::Silence;
        int periods = 0;
        if (!ParseNumber(value, periods) || periods < 1 || periods > 1'000'000) {
            return "N of silence=N must be a whole number of frame periods from 1 to 1000000";
        }
        action.Value = periods;
    } else if (name == "supply" && hasValue) {
        action.Kind = TActionKind::Supply;
        if (!ParseNumber(value, action.Value) || !(action.Value >= 0 && action.Value <= 30)) {
            return "V of supply=V must be 0 to 30 volts";
        }
    } else if (name == "temperature" && hasValue) {
        action.Kind = TActionKind::Temperature;
        if (!ParseNumber(value, action.Value) || !(action.Value >= -50 && action.Value <= 150)) {
            return "C of temperature=C must be -50 to 150 deg C";
        }
    } else if (name == "gps" && (value == "lost" || value == "fix")) {
        action.Kind = TActionKind::GpsFix;
        action.Value = value == "fix" ? 1 : 0;
    } else if (name == "calibration" && hasValue) {
        action.Kind = TActionKind::Calibration;
        int mode = 0;
        if (!ParseNumber(value, mode) || mode < 0 || mode > 9) {
            return "M of calibration=M must be a calibration mode 0 (off) to 9";
        }
        action.Value = mode;
    } else {
        return usage;
    }
    return {};
}

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
    TSimConfig& config = options.Config;
    TOptionTable table;
    table.Flag("--mde", [&] { config.Mde = true; }).Flag("--boot", [&] { config.Boot = true; });
    for (const char* name : {"--channels", "--rate", "--bytes", "--gps", "--signal", "--baud",
                             "--speed", "--seconds", "--link", "--fault", "--seed", "--serial",
                             "--memory", "--journal", "--start", "--at", "--event"}) {
        table.Value(name, [&config, name](const std::string& value) {
            return TakeValue(config, name, value);
        });
    }
    const TCommandScan scan = table.Scan(args);
    options.Help = scan.Action == TCommandAction::Help;
    options.Version = scan.Action == TCommandAction::Version;
    options.Error = scan.Error;
    // Receiver reports travel in the enhanced header.
    if (config.Gps == TGpsForm::Reports) {
        config.Mde = true;
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
           "  --serial TEXT      the unit's serial number, up to 8 characters (00012345)\n"
           "  --memory FILE      keep the boot loader's memory in FILE: loaded at start when\n"
           "                     it exists, saved at every reboot and power cycle and at exit\n"
           "  --fault KIND[=P]   inject a fault with probability P per frame: corrupt, drop,\n"
           "                     mod-in-samples, silence, reopen (0.1), split-echo (per echo, 1);\n"
           "                     may be repeated\n"
           "  --seed N           seed of the noise signal and the faults (1)\n"
           "  --journal FILE     write what the unit does to FILE, one line each, as it\n"
           "                     happens: every frame with its block count, whether it left\n"
           "                     whole, its time, channels, rate, samples, the counter index\n"
           "                     of its first samples and its sample width; commands, echoes,\n"
           "                     line rates, power cycles\n"
           "  --start TIME       the GPS clock at the first frame, a UTC time such as\n"
           "                     2024-12-31T23:59:30Z (the Z may be left out, the T may be a\n"
           "                     space); the computer's clock by default\n"
           "  --at T:ACTION      at second T of the unit's clock (the T-th frame period since\n"
           "                     the start) do ACTION: rate=R, channels=N, reopen (the cable\n"
           "                     pulled: the device gone for two seconds of wall time, then\n"
           "                     a fresh one under a new path), silence=N (N frame periods),\n"
           "                     power-cycle, supply=V (the supply voltage held at V from then\n"
           "                     on), temperature=C (the board and every module held at C deg\n"
           "                     C in the header; the channels' drift goes on), gps=lost or\n"
           "                     gps=fix (the receiver loses its fix, or has it again),\n"
           "                     calibration=M (the calibration signal of mode M, 0 off to 9,\n"
           "                     as \"$CA\" sets it); may be repeated\n"
           "  --event AT,DURATION,AMPLITUDE[,CHANNELS]\n"
           "                     add a synthetic local earthquake: its P onset at AT (a second\n"
           "                     of the unit's clock, as for --at, or a UTC time as for\n"
           "                     --start), a larger S onset 0.15 x DURATION later (0.5 to 8 s),\n"
           "                     a coda that dies away by DURATION seconds; AMPLITUDE counts\n"
           "                     at the S peak; CHANNELS joined by + such as 1+3 or 2-4+6 (all);\n"
           "                     the waveform follows from --seed; may be repeated\n"
           "  --help             show this text\n"
           "  --version          show the program's version\n";
}
