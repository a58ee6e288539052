// The unit's boot loader: after a power-up or a reboot it announces itself with "Ready.",
// waits a few seconds for "$BH" and then either stays and serves memory reads and writes or
// hands over to the main firmware. Also the unit's memory, which covers every address an
// extended-segment HEX file can reach, and its image in a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/command_reader.h"

constexpr uint32_t MemorySize = 0x10FFF0;  // 0xFFFF0 + 0xFFFF, the last address + 1
constexpr uint32_t SerialNumberAddress = 0x1FF0;
constexpr uint32_t InvertedSerialAddress = 0x1FE0;
// The boot loader ends whatever line the unit was in the middle of (a frame cut off by the
// power going) before it announces itself, so that "Ready." begins a line of its own.
constexpr std::string_view ReadyLine = "\r\nReady.\r\n";
constexpr int BootLoaderBaud = 19200;

// Sum of big-endian 16-bit words, modulo 65536 (an odd last byte is ignored).
uint16_t WordSum(const uint8_t* data, size_t count);

class TDeviceMemory {
  public:
    TDeviceMemory() : bytes_(MemorySize, 0xFF) {}

    // Bytes from `address`; bytes beyond the end read as 0xFF.
    std::vector<uint8_t> Read(uint64_t address, size_t count) const;
    // Writes bytes from `address`; bytes beyond the end are ignored.
    void Write(uint64_t address, const uint8_t* data, size_t count);

    // The 8-byte serial number field at 0x1FF0 (its bitwise inverse at 0x1FE0).
    void SetSerialNumber(std::string_view serial);
    std::string SerialNumber() const;

    // The memory as a file of MemorySize bytes. Load takes a file that does not exist as
    // nothing to load; a file of another size is refused. Save replaces the file whole
    // (through a temporary file beside it). False with `error` set on failure.
    bool Load(const std::string& path, std::string& error);
    bool Save(const std::string& path, std::string& error) const;

  private:
    std::vector<uint8_t> bytes_;
};

class TBootLoader {
  public:
    using TClock = std::chrono::steady_clock;
    enum class TPhase { Off, Starting, Waiting, Active };
    enum class TAction { Ignored, Echo, Reboot };

    TDeviceMemory& Memory() { return memory_; }
    const TDeviceMemory& Memory() const { return memory_; }
    TPhase Phase() const { return phase_; }
    bool Running() const { return phase_ != TPhase::Off; }

    // Power-up or reboot: the "Ready." line is due after `delay`.
    void Start(TClock::time_point now, std::chrono::milliseconds delay);
    // Leaves the boot loader (the main firmware runs).
    void Stop() { phase_ = TPhase::Off; }

    // True once when the "Ready." line is due; the loader then waits `wait` for "$BH".
    bool ReadyDue(TClock::time_point now, std::chrono::milliseconds wait);
    // True once when the wait ended without "$BH"; the loader is then off.
    bool WaitExpired(TClock::time_point now);

    // Handles a command while the loader runs. `reply` receives the echo and, for "$UR",
    // the memory bytes read.
    TAction Handle(const TCommand& command, std::vector<uint8_t>& reply);

  private:
    TDeviceMemory memory_;
    TPhase phase_ = TPhase::Off;
    TClock::time_point due_{};
};
