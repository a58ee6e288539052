#include "sim/signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

int SamplesInFrame(uint64_t frameIndex, int decimation) {
    if (decimation <= 0) {
        return 0;
    }
    // Sample n lies at n / rate seconds: the frame of second j carries those with
    // j <= n / rate < j + 1, that is ceil(j * rate) up to ceil((j + 1) * rate).
    const uint64_t d = static_cast<uint64_t>(decimation);
    const auto ceilSamples = [d](uint64_t seconds) { return (seconds * BaseRate + d - 1) / d; };
    return static_cast<int>(ceilSamples(frameIndex + 1) - ceilSamples(frameIndex));
}

int32_t FullScale(int bytes) {
    return static_cast<int32_t>((uint32_t{1} << (8 * std::clamp(bytes, 1, 4) - 1)) - 1);
}

int32_t WrapToWidth(int64_t value, int bytes) {
    const int shift = 32 - 8 * std::clamp(bytes, 1, 4);
    return static_cast<int32_t>(static_cast<uint32_t>(value) << shift) >> shift;
}

int32_t ClampToWidth(int64_t value, int bytes) {
    const int64_t top = FullScale(bytes);
    return static_cast<int32_t>(std::clamp<int64_t>(value, -top - 1, top));
}

int32_t CounterValue(int channel, uint64_t k, int bytesPerSample) {
    return WrapToWidth(static_cast<int64_t>(k + 1000 * static_cast<uint64_t>(channel)),
                       bytesPerSample);
}

TSignalGenerator::TSignalGenerator(TSignalKind kind, uint64_t seed) : kind_(kind), rng_(seed) {}

void TSignalGenerator::Generate(int channel, int count, const TSignalParams& params,
                                std::vector<int32_t>& out) {
    out.reserve(out.size() + count);
    for (int i = 0; i < count; ++i) {
        out.push_back(Next(channel, params, params.Offset + params.OffsetStep * i));
    }
}

double TSignalGenerator::Step(double phase, double frequency, double rate) {
    phase += 2 * std::numbers::pi * frequency / rate;
    return phase >= 2 * std::numbers::pi ? phase - 2 * std::numbers::pi : phase;
}

int32_t TSignalGenerator::Next(int c, const TSignalParams& p, double offset) {
    const int bytes = p.BytesPerSample;
    const double fs = FullScale(bytes);
    const double rate = p.Rate > 0 ? p.Rate : 1;
    const int gain = p.HighGain ? 10 : 1;
    const uint64_t k = produced_[c]++;

    int64_t value = 0;
    switch (kind_) {
        case TSignalKind::Counter:
            value = CounterValue(c, k, bytes);
            break;
        case TSignalKind::Sine: {
            // Channel c runs at c + 1 Hz, scaled down below 20 samples per second so that
            // every channel stays well under half the sample rate.
            const double frequency = rate >= 20 ? c + 1 : rate * (c + 1) / 20;
            const double amplitude = fs * (0.04 + 0.01 * c) * gain;
            value = std::llround(amplitude * std::sin(phase_[c]) + fs / 1000 * (c + 1) + offset);
            phase_[c] = Step(phase_[c], frequency, rate);
            break;
        }
        case TSignalKind::Noise: {
            const uint64_t spread = std::max<uint64_t>(1, static_cast<uint64_t>(fs / 64)) * gain;
            value = static_cast<int64_t>(rng_() % (2 * spread + 1)) - static_cast<int64_t>(spread) +
                    std::llround(offset);
            break;
        }
    }

    // Calibration signals: DC levels are added to the input, sine waves replace it.
    const double calFrequency = std::min(1.0, rate / 8);
    switch (p.Calibration) {
        case 1:
            return ClampToWidth(value + static_cast<int64_t>(fs / 2), bytes);
        case 3:
            return ClampToWidth(value - static_cast<int64_t>(fs / 2), bytes);
        case 6:
            return ClampToWidth(value + static_cast<int64_t>(fs / 32), bytes);
        case 7:
            return ClampToWidth(value - static_cast<int64_t>(fs / 32), bytes);
        case 4:
        case 8:
        case 9: {
            double wave = 0;
            if (p.Calibration == 9) {
                wave = fs / 64 * (std::sin(calPhase_[c]) + std::sin(3 * calPhase_[c]));
            } else {
                wave = (p.Calibration == 4 ? fs / 2 : fs / 32) * std::sin(calPhase_[c]);
            }
            calPhase_[c] = Step(calPhase_[c], calFrequency, rate);
            return ClampToWidth(std::llround(wave), bytes);
        }
        default:
            return ClampToWidth(value, bytes);
    }
}
