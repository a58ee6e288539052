// Deterministic test signals for the simulated channels, and the helpers that tell a receiver
// what it should have got.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "sim/sim_config.h"

// Samples per channel that frame `frameIndex` carries at 3000 / `decimation` samples per
// second: ceil((j + 1) * rate) - ceil(j * rate), exact for every rate including 0.1 to 0.5.
// A frame that carries a sample begins with one at its own second, so that its time is the
// time of its first sample also below one sample per second.
int SamplesInFrame(uint64_t frameIndex, int decimation);

// Largest value of a `bytes`-wide sample (127, 32767, 8388607, 2147483647).
int32_t FullScale(int bytes);
// `value` wrapped into, or clamped to, the signed range of a `bytes`-wide sample.
int32_t WrapToWidth(int64_t value, int bytes);
int32_t ClampToWidth(int64_t value, int bytes);

// The counter signal: sample k of channel `channel` (0-based), k counting every sample that
// channel has produced since the simulator started: wrap(k + 1000 * channel).
int32_t CounterValue(int channel, uint64_t k, int bytesPerSample);

// What shapes a block of samples besides the signal itself.
struct TSignalParams {
    double Rate = 100;  // samples per second per channel
    int BytesPerSample = 3;
    bool HighGain = false;
    int Calibration = 0;  // "$CA" mode 0 to 9
    // Counts added to the sine and noise signals (the channel's drifting DC
    // offset): Offset at the first sample of a Generate call, changing by
    // OffsetStep from sample to sample. The counter stays exact.
    double Offset = 0;
    double OffsetStep = 0;
};

class TSignalGenerator {
  public:
    TSignalGenerator(TSignalKind kind, uint64_t seed);

    // Appends `count` samples of channel `channel` (0 to 5) to `out`.
    void Generate(int channel, int count, const TSignalParams& params, std::vector<int32_t>& out);

    // Samples channel `channel` has produced so far.
    uint64_t Produced(int channel) const { return produced_[channel]; }

  private:
    int32_t Next(int channel, const TSignalParams& params, double offset);
    static double Step(double phase, double frequency, double rate);

    TSignalKind kind_;
    std::mt19937_64 rng_;
    uint64_t produced_[6] = {};
    double phase_[6] = {};
    double calPhase_[6] = {};
};
