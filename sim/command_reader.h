// Splits the byte stream the unit receives into commands: "$", two upper-case letters and the
// command's argument. Garbage is skipped up to the next "$"; a command that stops arriving
// half-way is dropped after a second without a byte.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TCommand {
    std::string Name;               // the two letters, e.g. "SF"
    std::vector<uint8_t> Argument;  // the bytes after the letters

    // The argument's first two bytes as a big-endian 16-bit value (0 when shorter).
    uint16_t Word() const;
};

// Argument length of a command whose argument size does not depend on its content:
// 2 for the commands with a 16-bit argument, 0 for those without, 6 for "$UR" and for the
// fixed part of "$DR" (its data follow). -1 for letters the unit does not know.
int ArgumentLength(const char* letters);

// Largest word count of a memory write the unit takes; a larger count is garbage.
constexpr uint32_t MaxWriteWords = 32768;

class TCommandReader {
  public:
    using TClock = std::chrono::steady_clock;

    // Takes received bytes; returns the commands they complete, in order.
    std::vector<TCommand> Feed(const uint8_t* data, size_t count, TClock::time_point now);

    // Drops a partial command when no byte has come for `idle`.
    void Expire(TClock::time_point now,
                std::chrono::milliseconds idle = std::chrono::milliseconds(1000));

    // Drops a partial command at once (the line carried bytes the unit could not read).
    void Reset() { partial_.clear(); }

    bool HasPartial() const { return !partial_.empty(); }

  private:
    // Bytes the partial command still needs, or -1 when it cannot become a command.
    long Missing() const;

    std::vector<uint8_t> partial_;
    TClock::time_point lastByte_{};
};
