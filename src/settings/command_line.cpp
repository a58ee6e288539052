#include "settings/command_line.h"

#include <algorithm>
#include <cstdio>

namespace {

// Letters inserted, removed, changed or two neighbours swapped to make one text the other.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

std::string WithoutDashes(const std::string& text) {
    const size_t start = text.find_first_not_of('-');
    return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

TOptionTable& TOptionTable::Flag(const std::string& name, std::function<void()> set) {
    options_.push_back({name, TKind::Flag,
                        [set](const std::optional<std::string>&) {
                            set();
                            return std::string();
                        },
                        nullptr});
    return *this;
}

TOptionTable& TOptionTable::Value(const std::string& name, TOptionTake take) {
    options_.push_back({name, TKind::Value,
                        [take](const std::optional<std::string>& value) { return take(*value); },
                        nullptr});
    return *this;
}

TOptionTable& TOptionTable::OptionalValue(
    const std::string& name, std::function<bool(const std::string& next)> takesNext,
    std::function<std::string(const std::optional<std::string>&)> take) {
    options_.push_back({name, TKind::OptionalValue, std::move(take), std::move(takesNext)});
    return *this;
}

TOptionTable& TOptionTable::Operands(size_t count, TOptionTake take) {
    operandCount_ = count;
    takeOperand_ = std::move(take);
    return *this;
}

const TOptionTable::TOption* TOptionTable::Find(const std::string& name) const {
    for (const TOption& option : options_) {
        if (option.Name == name) {
            return &option;
        }
    }
    return nullptr;
}

TCommandScan TOptionTable::Scan(const std::vector<std::string>& args) const {
    TCommandScan scan;
    bool help = false;
    bool version = false;
    auto fail = [&](const std::string& fault) {
        if (scan.Error.empty()) {
            scan.Error = fault;
        }
    };
    size_t operands = 0;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (operands >= operandCount_) {
                fail("unexpected argument '" + ShownArgument(arg) + "'");
            } else if (const std::string fault = takeOperand_(arg); !fault.empty()) {
                fail(fault);
            }
            ++operands;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        std::optional<std::string> value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        }
        if (arg == "-h" || name == "--help" || name == "--version") {
            if (value) {
                fail(name + " takes no value");
            } else {
                (name == "--version" ? version : help) = true;
            }
            continue;
        }
        const TOption* option = Find(name);
        if (option == nullptr) {
            std::vector<std::string> names = {"--help", "--version"};
            for (const TOption& known : options_) {
                names.push_back(known.Name);
            }
            const std::string nearest = NearestOption(name, names);
            fail("unknown option " + ShownArgument(name) +
                 (nearest.empty() ? "" : " (did you mean " + nearest + "?)"));
            continue;
        }
        std::string typed = arg;
        if (option->Kind == TKind::Flag && value) {
            fail(name + " takes no value");
            continue;
        }
        if (!value && option->Kind == TKind::Value) {
            if (i + 1 >= args.size()) {
                fail(name + " needs a value");
                continue;
            }
            value = args[++i];
            typed = name + " " + *value;
        } else if (!value && option->Kind == TKind::OptionalValue && i + 1 < args.size() &&
                   option->TakesNext(args[i + 1])) {
            value = args[++i];
            typed = name + " " + *value;
        }
        if (const std::string reason = option->Take(value); !reason.empty()) {
            fail(ShownArgument(typed) + ": " + reason);
        }
    }
    scan.Action = help      ? TCommandAction::Help
                  : version ? TCommandAction::Version
                            : TCommandAction::Run;
    if (scan.Action != TCommandAction::Run) {
        scan.Error.clear();
    }
    return scan;
}

std::string NearestOption(const std::string& typed, const std::vector<std::string>& names) {
    const std::string word = WithoutDashes(typed);
    if (word.empty()) {
        return {};
    }
    // Two slips in a longer name, one in a short one.
    const size_t allowed = word.size() >= 5 ? 2 : 1;
    std::string nearest;
    size_t best = allowed + 1;
    bool tied = false;
    std::vector<std::string> starting;
    for (const std::string& name : names) {
        const std::string candidate = WithoutDashes(name);
        const size_t distance = EditDistance(word, candidate);
        if (distance < best) {
            best = distance;
            nearest = name;
            tied = false;
        } else if (distance == best) {
            tied = true;
        }
        if (word.size() >= 3 && candidate.rfind(word, 0) == 0) {
            starting.push_back(name);
        }
    }
    if (!nearest.empty() && !tied) {
        return nearest;
    }
    return starting.size() == 1 ? starting.front() : std::string();
}

std::string ShownArgument(const std::string& text) {
    constexpr size_t MaxShown = 80;
    std::string shown = text.substr(0, MaxShown);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text.size() > MaxShown ? shown + "..." : shown;
}

int CommandLineFault(const char* program, const std::string& fault) {
    std::fprintf(stderr, "%s: %s; see --help\n", program, fault.c_str());
    return 2;
}

std::optional<int> CommandLineAnswer(const TCommandScan& scan, const char* program,
                                     const char* usage, const char* version) {
    switch (scan.Action) {
        case TCommandAction::Help:
            std::fputs(usage, stdout);
            return 0;
        case TCommandAction::Version:
            std::printf("%s %s\n", program, version);
            return 0;
        case TCommandAction::Run:
            break;
    }
    if (!scan.Error.empty()) {
        return CommandLineFault(program, scan.Error);
    }
    return std::nullopt;
}
