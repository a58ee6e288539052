// The unit's main firmware: its settings, the commands that change them and the frames it
// builds from them once per second of its frame clock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "sim/command_reader.h"
#include "sim/frame_encoder.h"
#include "sim/signals.h"
#include "sim/sim_config.h"

// What the unit is set to. The sample rate follows from the decimation factors of filter
// stages 3 to 7: 3000 / their product.
struct TDeviceSettings {
    int Channels = 3;
    std::array<int, 5> Factors = {6, 5, 1, 1, 1};
    int BytesPerSample = 3;
    int GainMask = 0;  // bit n: channel n + 1 at high gain
    bool Mde = false;
    bool MinimalPhase = true;
    int Calibration = 0;  // "$CA" mode
    int LineOutput = 0;   // "$LI" flags
    int Supplies = 3;     // "$SP" flags: bit 0 GPS supply, bit 1 sensor supply
    int Pll = 0;          // "$CP" setting
    int Baud = 19200;

    int Decimation() const;
    double Rate() const { return static_cast<double>(BaseRate) / Decimation(); }
};

// The decimation factors of stages 3 to 7 for a settable rate (unused stages 1); a rate that
// is not settable gets 4, 10 (75 samples per second).
std::array<int, 5> FactorsForRate(double rate);

TDeviceSettings SettingsFromConfig(const TSimConfig& config);

// The TotalRate field: rate x channels from 1 sample per second up, below that the negative
// number of seconds per sample of all channels together; clamped to 16 bits.
int16_t TotalRateField(int decimation, int channels);

// The GainCode field for a high-gain mask: "L" when no channel runs at high gain; otherwise
// "G" and the mask as one decimal digit below four channels, as one binary byte from four up.
std::array<char, 2> GainCodeField(int mask, int channels);

// What a receiver needs to check every sample of a frame.
struct TFrameFacts {
    int64_t Time = 0;  // UTC seconds of the GPS clock: the time of the frame's first sample
    int Channels = 0;
    double Rate = 0;  // samples per second per channel
    int Samples = 0;  // per channel
    // The counter index of each channel's first sample: sample j of channel c is
    // CounterValue(c, First[c] + j, BytesPerSample) with the counter signal.
    std::array<uint64_t, 6> First{};
    int BytesPerSample = 0;
};

class TFirmware {
  public:
    explicit TFirmware(const TSimConfig& config);

    // What a command asks of the line besides its echo.
    struct TEffect {
        int SwitchBaud = 0;  // switch to this rate once the echo is out
        bool Reboot = false;
    };
    TEffect Apply(const TCommand& command);

    const TDeviceSettings& Settings() const { return settings_; }
    void SetBaud(int baud) { settings_.Baud = baud; }
    // A power-up or reboot: the settings saved in ROM become current.
    void LoadRom() { settings_ = rom_; }

    // Sets the sample rate (a settable one; another gets 75) or the channels (1 to 6), as the
    // commands that configure them do.
    void SetRate(double rate) { settings_.Factors = FactorsForRate(rate); }
    void SetChannels(int channels);
    // The health the header reports held at a value (a supply voltage, one temperature for the
    // board and every module), and the GPS receiver's fix lost or regained.
    void HoldSupply(double volts) { supply_ = volts; }
    void HoldTemperature(double celsius) { temperature_ = celsius; }
    void SetGpsFix(bool fix) { gpsLost_ = !fix; }
    // The calibration signal, a "$CA" mode 0 (off) to 9.
    void SetCalibration(int mode) { settings_.Calibration = mode; }

    // The next frame, with `serial` (8 characters) as the unit's serial number. Advances the
    // frame clock by one second.
    TWireFrame NextFrame(const std::string& serial);
    // Advances the frame clock by one second without a frame: the unit is not running its
    // firmware, but time goes on.
    void SkipSecond() { ++seconds_; }
    // Seconds of the frame clock so far: the second of the next frame.
    uint64_t Seconds() const { return seconds_; }
    // The facts of the last frame built.
    const TFrameFacts& LastFrame() const { return lastFrame_; }

    uint32_t BlockCount() const { return blockCount_; }

  private:
    void FillHealth(TWireFrame& frame) const;
    void FillGps(TWireFrame& frame, bool fix);

    TSimConfig config_;
    TDeviceSettings settings_;
    TDeviceSettings rom_;
    TDeviceSettings factory_;
    TSignalGenerator signals_;
    std::mt19937_64 rng_;
    uint32_t blockCount_ = 0;  // of the last frame built
    uint64_t seconds_ = 0;     // seconds of the frame clock so far, with or without frames
    uint64_t rateSince_ = 0;   // the second at which the rate last changed
    int lastDecimation_ = 0;
    int64_t epoch_ = 0;  // UTC seconds of the frame clock's second 0
    TFrameFacts lastFrame_;
    int32_t lastFixBlock_ = -1;
    std::optional<double> supply_, temperature_;
    bool gpsLost_ = false;
};
