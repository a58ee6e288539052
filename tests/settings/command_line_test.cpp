// The command-line scanner every program shares: what it takes, what wins, and the one line
// that names each fault.
#include "settings/command_line.h"

#include <gtest/gtest.h>

namespace {

// What a small program's table took from its arguments.
struct TTaken {
    std::string Blocks;
    bool Json = false;
    std::optional<std::string> Status;
    bool StatusGiven = false;
    std::vector<std::string> Operands;
    bool operator==(const TTaken&) const = default;
};

TCommandScan Scan(const std::vector<std::string>& args, TTaken& taken) {
    TOptionTable table;
    table
        .Value("--blocks",
               [&](const std::string& value) {
                   if (value.empty() ||
                       value.find_first_not_of("0123456789") != std::string::npos || value == "0") {
                       return "must be a whole number, 1 or more";
                   }
                   taken.Blocks = value;
                   return "";
               })
        .Flag("--json", [&] { taken.Json = true; })
        .Value("--rate", [](const std::string&) { return ""; })
        .Value("--gate", [](const std::string&) { return ""; })
        .OptionalValue(
            "--status", [](const std::string& next) { return next.rfind("/dev/", 0) != 0; },
            [&](const std::optional<std::string>& file) {
                taken.StatusGiven = true;
                taken.Status = file;
                return file && file->empty() ? "needs a file name after =" : "";
            })
        .Operands(1, [&](const std::string& operand) {
            taken.Operands.push_back(operand);
            return operand == "bad" ? "'bad' is no device" : "";
        });
    return table.Scan(args);
}

TEST(CommandLine, EachRuleOfTheSharedScanner) {
    using enum TCommandAction;
    struct TCase {
        std::vector<std::string> Args;
        TCommandAction Action;
        std::string Error;
        TTaken Taken;  // checked when there is no fault
    };
    const TCase cases[] = {
        // Values in both forms, flags, operands.
        {{"/dev/x", "--blocks", "12", "--json"}, Run, "", {"12", true, {}, false, {"/dev/x"}}},
        {{"--blocks=7"}, Run, "", {"7", false, {}, false, {}}},
        {{"--blocks", "--json"}, Run, "--blocks --json: must be a whole number, 1 or more", {}},
        {{"--", "--json"}, Run, "", {"", false, {}, false, {"--json"}}},
        // Unknown options, with a suggestion for a near miss only.
        {{"--blcoks", "5"}, Run, "unknown option --blcoks (did you mean --blocks?)", {}},
        {{"--blocks=1", "--jsno"}, Run, "unknown option --jsno (did you mean --json?)", {}},
        {{"-blocks", "5"}, Run, "unknown option -blocks (did you mean --blocks?)", {}},
        {{"--blo"}, Run, "unknown option --blo (did you mean --blocks?)", {}},
        {{"--hepl"}, Run, "unknown option --hepl (did you mean --help?)", {}},
        {{"--verison"}, Run, "unknown option --verison (did you mean --version?)", {}},
        {{"--frobnicate"}, Run, "unknown option --frobnicate", {}},
        {{"--bate", "1"}, Run, "unknown option --bate", {}},  // --rate or --gate?
        {{"--bl"}, Run, "unknown option --bl", {}},
        {{"-x"}, Run, "unknown option -x", {}},
        {{"--blcoks=5"}, Run, "unknown option --blcoks (did you mean --blocks?)", {}},
        {{"--a\nb"}, Run, "unknown option --a?b", {}},
        // Missing and refused values, flags given one, operands.
        {{"1", "--blocks"}, Run, "--blocks needs a value", {}},
        {{"--blocks", "0"}, Run, "--blocks 0: must be a whole number, 1 or more", {}},
        {{"--blocks=-5"}, Run, "--blocks=-5: must be a whole number, 1 or more", {}},
        {{"--json=yes"}, Run, "--json takes no value", {}},
        {{"--help=me"}, Run, "--help takes no value", {}},
        {{"1", "2"}, Run, "unexpected argument '2'", {}},
        {{"bad"}, Run, "'bad' is no device", {}},
        // The first fault is the one told.
        {{"--x", "--blocks", "0"}, Run, "unknown option --x", {}},
        // A value that may be left out.
        {{"--status", "/tmp/s.json"}, Run, "", {"", false, "/tmp/s.json", true, {}}},
        {{"--status", "/dev/ttyUSB0"}, Run, "", {"", false, {}, true, {"/dev/ttyUSB0"}}},
        {{"--status"}, Run, "", {"", false, {}, true, {}}},
        {{"--status="}, Run, "--status=: needs a file name after =", {}},
        // --help and --version win over any fault; help over version.
        {{"--help"}, Help, "", {}},
        {{"-h", "--blcoks"}, Help, "", {}},
        {{"--version"}, Version, "", {}},
        {{"1", "2", "--version"}, Version, "", {}},
        {{"--version", "--help"}, Help, "", {}},
    };
    for (const TCase& c : cases) {
        std::string shown;
        for (const std::string& arg : c.Args) {
            shown += "[" + arg + "]";
        }
        SCOPED_TRACE(shown);
        TTaken taken;
        const TCommandScan scan = Scan(c.Args, taken);
        EXPECT_EQ(scan.Action, c.Action);
        EXPECT_EQ(scan.Error, c.Error);
        if (c.Error.empty() && c.Action == Run) {
            EXPECT_EQ(taken, c.Taken);
        }
    }
}

}  // namespace
