// Configuration of the digitizer simulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/event_signal.h"

enum class TGpsForm { Rmc, Reports, None };
enum class TSignalKind { Sine, Counter, Noise };

// Faults the simulator injects on demand (TDigitizerSim::InjectFault) or at random.
enum class TFaultKind {
    Corrupt,       // one byte of a frame damaged, so that its checksum or structure fails
    Drop,          // one byte of a frame left out
    SplitEcho,     // an echo written in two parts with a pause between them
    ModInSamples,  // a valid frame whose sample bytes contain "MOD"
    Silence,       // nothing sent for a few frame periods
    Reopen,        // the device closed and, after a moment, a fresh one opened under a new path
};

// A fault with its probability: per frame, or per echo for SplitEcho.
struct TFaultRate {
    TFaultKind Kind = TFaultKind::Corrupt;
    double Rate = 0.1;
};

// What the unit can be told to do at a given second of its frame clock (--at).
enum class TActionKind {
    Rate,         // the sample rate set, as by "$SF" (Value: samples per second)
    Channels,     // channels 1 to Value enabled, as by "$SC"
    Reopen,       // the cable pulled: the device gone for a moment, then a fresh one
    Silence,      // nothing sent for Value frame periods
    PowerCycle,   // switched off and on, as by SIGUSR1
    Supply,       // the supply voltage held at Value volts from then on
    Temperature,  // the board and every module held at Value deg C from then on
    GpsFix,       // the GPS receiver loses its fix (Value 0) or has it again (Value 1)
    Calibration,  // the calibration signal set to mode Value (0 off), as by "$CA"
};

struct TScheduledAction {
    // The unit's second: the action happens when its frame clock reaches it, before the frame
    // of that second is built, so that a rate or channel change first shows in that frame.
    uint64_t At = 0;
    TActionKind Kind = TActionKind::Reopen;
    double Value = 0;
};

struct TSimConfig {
    int Channels = 3;              // 1 to 6
    double Rate = 100;             // samples per second per channel, one of the settable rates
    int BytesPerSample = 3;        // 1 to 4
    bool Mde = false;              // enhanced header
    TGpsForm Gps = TGpsForm::Rmc;  // Reports needs (and implies) the enhanced header
    TSignalKind Signal = TSignalKind::Sine;
    int Baud = 19200;      // the unit's own line rate
    double Speed = 1;      // frames per second of wall time
    double Seconds = 0;    // how long the program runs, 0 for ever (not used by the library)
    std::string LinkPath;  // a symbolic link to the device, when not empty
    bool Boot = false;     // start with a power-up through the boot loader
    std::vector<TFaultRate> Faults;
    uint64_t Seed = 1;
    std::string DeviceId = "QF 5150-400";   // 12 characters on the wire, blank-padded
    std::string SerialNumber = "00012345";  // 8 characters, kept in the unit's memory
    // The boot loader's memory kept in this file (when not empty): loaded at start when it
    // exists (over SerialNumber), saved at every reboot and power cycle and at the stop.
    std::string MemoryPath;
    // The unit's journal (see journal.h) written to this file, when not empty.
    std::string JournalPath;
    // UTC seconds of the GPS clock at the first frame; none: the computer's clock at start.
    std::optional<int64_t> StartTime;
    // Done in the order of their seconds, those of one second in the order given.
    std::vector<TScheduledAction> Actions;
    // Synthetic earthquakes added to the channels (--event).
    std::vector<TSimEvent> Events;

    // Timing of the boot loader, in milliseconds of wall time.
    int PowerUpDelayMs = 300;  // from a power-up to the "Ready." line
    int RebootDelayMs = 500;   // from the echo of "$BR" to the "Ready." line
    int BootWaitMs = 3000;     // how long the boot loader waits for "$BH"
    int SilenceFrames = 3;     // length of a silence fault in frame periods
    // How long a reopen leaves the unit without a device: longer than a receiver's tick of
    // 1.1 s, so that it finds the device missing before it is back, as after a real unplug.
    int UnplugMs = 2000;
};

// The line rates the unit knows, indexed like the argument of "$BA".
constexpr int UnitBaudRates[8] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// The 26 sample rates the unit can be set to.
constexpr double SettableRates[26] = {0.1, 0.2, 0.5, 1,   2,   4,   5,    10,  20,
                                      25,  40,  50,  75,  100, 120, 125,  150, 200,
                                      250, 300, 375, 500, 600, 750, 1000, 3000};

// The samples-per-second value for the rate of a decimation product: 3000 / product.
constexpr int BaseRate = 3000;
