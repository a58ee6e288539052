// The command-line scanner every program shares: a table of its options, each with what it
// does with its value, and the common rules.
//
// - "--name VALUE" and "--name=VALUE" are the same; an option without a value refuses "=".
// - --help (or -h) and --version are every program's; either wins over any fault, so that a
//   wrong command line can still ask for the usage.
// - Arguments that are no option are operands, up to the number the program takes; "--" ends
//   the options.
// - The first fault is kept, as one line that names the argument: "unknown option --blcoks
//   (did you mean --blocks?)", "--blocks needs a value", "--blocks 0: must be 1 or more",
//   "--json takes no value", "unexpected argument 'x'". The program prints it as
//   "PROGRAM: FAULT; see --help" and exits with 2 (CommandLineAnswer).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What an option does with its value: the reason the value is refused, empty when taken.
using TOptionTake = std::function<std::string(const std::string& value)>;

enum class TCommandAction { Run, Help, Version };

struct TCommandScan {
    TCommandAction Action = TCommandAction::Run;
    std::string Error;  // the first fault; empty when the command line is usable
};

class TOptionTable {
  public:
    // An option without a value, such as --json.
    TOptionTable& Flag(const std::string& name, std::function<void()> set);
    // An option with a value, "--name VALUE" or "--name=VALUE".
    TOptionTable& Value(const std::string& name, TOptionTake take);
    // An option whose value may be left out: "--name=VALUE", or the next argument when
    // `takesNext` accepts it, else none (nullopt).
    TOptionTable& OptionalValue(const std::string& name,
                                std::function<bool(const std::string& next)> takesNext,
                                std::function<std::string(const std::optional<std::string>&)> take);
    // Up to `count` arguments that are no option. `take` returns the whole fault's text, since
    // there is no option to name.
    TOptionTable& Operands(size_t count, TOptionTake take);

    TCommandScan Scan(const std::vector<std::string>& args) const;

  private:
    enum class TKind { Flag, Value, OptionalValue };
    struct TOption {
        std::string Name;
        TKind Kind;
        std::function<std::string(const std::optional<std::string>&)> Take;
        std::function<bool(const std::string&)> TakesNext;
    };
    const TOption* Find(const std::string& name) const;
    std::vector<TOption> options_;
    size_t operandCount_ = 0;
    TOptionTake takeOperand_;
};

// The option of `names` that `typed` most likely meant (a letter or two wrong, missing, extra
// or swapped; or the start of a single option's name); empty when none is close.
std::string NearestOption(const std::string& typed, const std::vector<std::string>& names);

// An argument as a message shows it: control characters as '?', cut short.
std::string ShownArgument(const std::string& text);

// The line of a fault, "PROGRAM: FAULT; see --help", printed on standard error; returns 2,
// the exit status of a wrong command line.
int CommandLineFault(const char* program, const std::string& fault);

// The answers every program gives alike: the usage on standard output (0), "PROGRAM VERSION"
// (0), or the fault's line (2). Nothing when the program is to run.
std::optional<int> CommandLineAnswer(const TCommandScan& scan, const char* program,
                                     const char* usage, const char* version);
