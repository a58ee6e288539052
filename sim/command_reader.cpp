#include "sim/command_reader.h"

#include <cstring>

namespace {

constexpr const char* WordCommands[] = {"CA", "CP", "BA", "NB", "SF", "SC",
                                        "FT", "LI", "SP", "EM", "PC", "BR"};
constexpr const char* BareCommands[] = {"OK", "RW", "RD", "BH"};

bool IsUpper(uint8_t c) {
    return c >= 'A' && c <= 'Z';
}

}  // namespace

uint16_t TCommand::Word() const {
    if (Argument.size() < 2) {
        return 0;
    }
    return static_cast<uint16_t>(Argument[0] << 8 | Argument[1]);
}

int ArgumentLength(const char* letters) {
    for (const char* name : WordCommands) {
        if (std::memcmp(letters, name, 2) == 0) {
            return 2;
        }
    }
    for (const char* name : BareCommands) {
        if (std::memcmp(letters, name, 2) == 0) {
            return 0;
        }
    }
    if (std::memcmp(letters, "UR", 2) == 0 || std::memcmp(letters, "DR", 2) == 0) {
        return 6;
    }
    return -1;
}

long TCommandReader::Missing() const {
    const size_t have = partial_.size();
    if (have < 3) {
        return have >= 2 && !IsUpper(partial_[1]) ? -1 : static_cast<long>(3 - have);
    }
    if (!IsUpper(partial_[2])) {
        return -1;
    }
    const int fixed = ArgumentLength(reinterpret_cast<const char*>(&partial_[1]));
    if (fixed < 0) {
        return -1;
    }
    size_t total = 3 + fixed;
    if (partial_[1] == 'D' && partial_[2] == 'R' && have >= total) {
        const uint32_t words = static_cast<uint32_t>(partial_[7] << 8 | partial_[8]);
        if (words > MaxWriteWords) {
            return -1;
        }
        total += 2 * words;
    }
    return static_cast<long>(total - have);
}

std::vector<TCommand> TCommandReader::Feed(const uint8_t* data, size_t count,
                                           TClock::time_point now) {
    std::vector<TCommand> commands;
    if (count > 0) {
        lastByte_ = now;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = data[i];
        if (partial_.empty()) {
            if (b == '$') {
                partial_.push_back(b);
            }
            continue;
        }
        partial_.push_back(b);
        const long missing = Missing();
        if (missing < 0) {
            // Not a command: start again at this byte if it could begin one.
            partial_.clear();
            if (b == '$') {
                partial_.push_back(b);
            }
        } else if (missing == 0) {
            TCommand command;
            command.Name.assign(partial_.begin() + 1, partial_.begin() + 3);
            command.Argument.assign(partial_.begin() + 3, partial_.end());
            commands.push_back(std::move(command));
            partial_.clear();
        }
    }
    return commands;
}

void TCommandReader::Expire(TClock::time_point now, std::chrono::milliseconds idle) {
    if (!partial_.empty() && now - lastByte_ >= idle) {
        partial_.clear();
    }
}
