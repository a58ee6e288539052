// TDigitizerSim plays the digitizer's side of the serial line on a pseudo-terminal: frames at
// its own line rate, echoes of every command, configuration changes, the boot loader with its
// memory, power cycles and faults on demand. It runs on a thread of its own.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/boot_loader.h"
#include "sim/command_reader.h"
#include "sim/firmware.h"
#include "sim/journal.h"
#include "sim/output_line.h"
#include "sim/pty_device.h"
#include "sim/sim_config.h"

// A command as the unit received it.
struct TReceivedCommand {
    std::string Name;               // the two letters
    std::vector<uint8_t> Argument;  // the bytes after them (of a long memory write the first 512)
};

// A snapshot of the unit for tests and tools.
struct TSimState {
    bool Running = false;
    bool InBootLoader = false;
    int Baud = 0;      // the unit's own line rate now
    int LineBaud = 0;  // the rate the other side set on the device (0: not a known rate)
    int Channels = 0;
    double Rate = 0;
    std::array<int, 5> Factors{};
    int BytesPerSample = 0;
    int GainMask = 0;
    bool Mde = false;
    bool MinimalPhase = true;
    int Calibration = 0;
    int LineOutput = 0;
    int Supplies = 0;
    int Pll = 0;
    uint64_t FramesSent = 0;  // frames whose last byte has gone out
    uint32_t BlockCount = 0;  // of the last frame built
    uint64_t Seconds = 0;     // of the frame clock: the second of the next frame
    bool Unplugged = false;   // a reopen has taken the device away for a moment
};

class TDigitizerSim {
  public:
    using TClock = std::chrono::steady_clock;

    explicit TDigitizerSim(const TSimConfig& config);
    TDigitizerSim(const TDigitizerSim&) = delete;
    TDigitizerSim& operator=(const TDigitizerSim&) = delete;
    ~TDigitizerSim();

    // Opens the device (and the link to it) and starts the unit's thread. False with
    // LastError() when the device cannot be made. Starting a running simulator does nothing.
    bool Start();
    // Stops the thread, closes the device and removes the link. Safe to call at any time.
    void Stop();

    // The device's path; empty while a reopen has taken it away.
    std::string DevicePath() const;
    std::string LastError() const;

    // Switches the unit off and on: whatever was being sent is lost, the settings saved in ROM
    // come back and the boot loader announces itself.
    void PowerCycle();
    // Injects one fault: into the next frame (Corrupt, Drop, ModInSamples), the next echo
    // (SplitEcho), or at once (Silence, Reopen).
    void InjectFault(TFaultKind kind);

    TSimState State() const;
    uint64_t FramesSent() const;
    // The commands received, oldest first (the last 4096).
    std::vector<TReceivedCommand> ReceivedCommands() const;
    std::vector<uint8_t> ReadMemory(uint32_t address, size_t count) const;
    // Changes the unit's memory as if it had been written before (tests).
    void WriteMemory(uint32_t address, const std::vector<uint8_t>& bytes);

  private:
    void Run();
    void Step(TClock::time_point now);
    void ReadInput(TClock::time_point now, bool accepted);
    void Dispatch(const TCommand& command, TClock::time_point now);
    void SendEcho(std::vector<uint8_t> echo, int switchBaud);
    void SendFrame();
    void Transmit(TClock::time_point now, std::chrono::nanoseconds elapsed, bool match);
    void DoPowerCycle(TClock::time_point now);
    // Keeps the memory in its file, when there is one; a failure is kept in error_.
    void SaveMemory();
    void StartFirmware();
    // The frame clock's seconds that are due: each one's scheduled actions, then its frame,
    // or no frame while the boot loader runs.
    void AdvanceClock(TClock::time_point now);
    void RunActions(uint64_t second, TClock::time_point secondStart);
    // The cable pulled: the device closes at once and a fresh one appears UnplugMs later.
    // The cable pulled: once the program has read what is on the line (or after DrainLimit),
    // the device goes, and a fresh one comes UnplugMs later.
    void RequestReopen(TClock::time_point now);
    void Reopen(TClock::time_point now);
    void PlugIn();
    bool TakeFault(TFaultKind kind);
    bool RollFault(TFaultKind kind);
    bool TakeOrRollFault(TFaultKind kind) { return TakeFault(kind) || RollFault(kind); }
    std::chrono::nanoseconds FramePeriod() const;

    // A frame on its way out, followed for the journal until its last byte is on the line.
    struct TFrameTrace {
        uint32_t BlockCount = 0;
        size_t Size = 0;
        size_t Left = 0;     // bytes not yet taken for the line
        std::string Damage;  // why a receiver cannot decode it; empty while whole
        bool TagInSamples = false;
        bool EchoInside = false;  // an echo went out between its bytes
        TFrameFacts Facts;
    };
    void Note(const std::string& text);
    // `frameBytes` of the oldest frames taken for the line, lost on the way when `loss` is set.
    void TrackFrames(size_t frameBytes, const char* loss);
    // Frames taken whole whose stalled bytes have gone out, or were lost when `loss` is set.
    void SettleFrames(const char* loss);
    // The frames not yet taken whole never go out complete.
    void CutFrames(const char* why);
    void ReportFrame(const TFrameTrace& frame);

    const TSimConfig config_;
    std::mutex lifecycle_;      // serialises Start and Stop
    mutable std::mutex mutex_;  // guards everything below that the thread changes
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    int wake_[2] = {-1, -1};

    std::unique_ptr<TPtyDevice> pty_;
    std::string error_;
    TCommandReader reader_;
    TBootLoader boot_;
    TFirmware firmware_;
    TOutputLine output_;
    std::mt19937_64 faultRng_;
    std::mt19937_64 noiseRng_;
    std::vector<TFaultKind> pendingFaults_;
    std::vector<TScheduledAction> actions_;  // in the order they are due
    size_t nextAction_ = 0;
    std::deque<TReceivedCommand> log_;
    TSimJournal journal_;
    std::deque<TFrameTrace> outgoing_;        // frames not yet taken whole
    std::vector<TFrameTrace> stalledFrames_;  // taken whole, some bytes still stalled

    int ownBaud_;
    int lineBaud_ = 0;
    uint64_t framesSent_ = 0;
    double allowance_ = 0;          // bytes the line may carry now
    std::vector<uint8_t> stalled_;  // taken but not yet accepted by the device
    TClock::time_point stalledSince_{};
    bool nobodyReads_ = false;  // a stall ran out: what the device does not take is lost at once
    TClock::time_point lastStep_{};
    bool lastStepMatched_ = true;  // the line's rate equalled the unit's at the last step
    TClock::time_point nextFrame_{};
    TClock::time_point pauseUntil_{};
    TClock::time_point silentUntil_{};
    uint64_t silentBefore_ = 0;  // frames of the unit's seconds before this one are not sent
    bool unplugged_ = false;
    bool reopenPending_ = false;  // waiting for the program to read what is on the line
    TClock::time_point reopenAskedAt_{};
    TClock::time_point unpluggedUntil_{};
};
