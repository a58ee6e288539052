#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sim/firmware.h"
#include "sim/signals.h"
#include "sim/thermal.h"

namespace {

TEST(Signals, FramesCarryExactlyTheRateOnAverage) {
    // 0.1, 0.2, 0.5, 1, 75, 120 and 3000 samples per second, and a rate that is no whole number.
    for (int decimation : {30000, 15000, 6000, 3000, 40, 25, 1, 7}) {
        uint64_t total = 0;
        for (uint64_t j = 0; j < 100; ++j) {
            const int n = SamplesInFrame(j, decimation);
            // Each frame carries the floor or the ceiling of the rate.
            EXPECT_GE(n, BaseRate / decimation);
            EXPECT_LE(n, (BaseRate + decimation - 1) / decimation);
            total += n;
        }
        // The samples whose time n / rate falls in the first 100 seconds: ceil(100 * rate).
        EXPECT_EQ(total, (100u * BaseRate + decimation - 1) / decimation)
            << "decimation " << decimation;
    }
    // 0.1 samples per second: one sample in every tenth frame, at the frame's own second
    // (the first in frame 0, the next in frame 10), so that the frame's time is the sample's.
    EXPECT_EQ(SamplesInFrame(0, 30000), 1);
    EXPECT_EQ(SamplesInFrame(9, 30000), 0);
    EXPECT_EQ(SamplesInFrame(10, 30000), 1);
    EXPECT_EQ(SamplesInFrame(1, 15000), 0);  // 0.2: frames 0, 5, 10, ...
    EXPECT_EQ(SamplesInFrame(5, 15000), 1);
    EXPECT_EQ(SamplesInFrame(0, 0), 0);
}

TEST(Signals, CounterWrapsWithinTheSampleWidth) {
    EXPECT_EQ(CounterValue(0, 0, 3), 0);
    EXPECT_EQ(CounterValue(2, 5, 3), 2005);
    EXPECT_EQ(CounterValue(0, 127, 1), 127);
    EXPECT_EQ(CounterValue(0, 128, 1), -128);
    EXPECT_EQ(CounterValue(1, 0, 1), WrapToWidth(1000, 1));  // 1000 = 0x3E8 -> 0xE8 = -24
    EXPECT_EQ(CounterValue(1, 0, 1), -24);
    EXPECT_EQ(CounterValue(0, 32768, 2), -32768);
    EXPECT_EQ(CounterValue(0, 8388607, 3), 8388607);
    EXPECT_EQ(CounterValue(0, 8388608, 3), -8388608);
    EXPECT_EQ(CounterValue(5, (uint64_t{1} << 32) - 5000, 4), 0);
    EXPECT_EQ(ClampToWidth(200, 1), 127);
    EXPECT_EQ(ClampToWidth(-200, 1), -128);
}

TEST(Signals, CounterStreamContinuesAcrossBlocksAndChannels) {
    TSignalGenerator generator(TSignalKind::Counter, 1);
    TSignalParams params;
    params.BytesPerSample = 1;
    std::vector<int32_t> channel0;
    std::vector<int32_t> channel4;
    for (int block = 0; block < 5; ++block) {
        generator.Generate(0, 100, params, channel0);
        if (block % 2 == 0) {
            generator.Generate(4, 7, params, channel4);  // a channel that is on now and then
        }
    }
    ASSERT_EQ(channel0.size(), 500u);
    for (size_t k = 0; k < channel0.size(); ++k) {
        ASSERT_EQ(channel0[k], CounterValue(0, k, 1)) << k;
    }
    for (size_t k = 0; k < channel4.size(); ++k) {
        ASSERT_EQ(channel4[k], CounterValue(4, k, 1)) << k;
    }
    EXPECT_EQ(generator.Produced(0), 500u);
    EXPECT_EQ(generator.Produced(4), 21u);
}

TEST(Signals, SineAndNoiseStayInRangeAndAreReproducible) {
    for (int bytes = 1; bytes <= 4; ++bytes) {
        TSignalGenerator sine(TSignalKind::Sine, 1);
        TSignalParams params;
        params.Rate = 100;
        params.BytesPerSample = bytes;
        params.HighGain = true;
        std::vector<int32_t> a;
        std::vector<int32_t> b;
        sine.Generate(5, 100, params, a);  // one second of a 6 Hz sine at 100 per second
        sine.Generate(5, 100, params, b);
        const int32_t top = FullScale(bytes);
        int32_t high = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_LE(std::abs(int64_t{a[i]}), top);
            high = std::max(high, a[i]);
            // A whole number of periods per second: the next second repeats the first,
            // which shows that the phase runs on across blocks.
            EXPECT_NEAR(a[i], b[i], 1 + top * 1e-6) << i;
        }
        EXPECT_GT(high, top / 2) << "high gain sine swings over half of full scale";
    }

    TSignalParams params;
    params.BytesPerSample = 3;
    TSignalGenerator one(TSignalKind::Noise, 42);
    TSignalGenerator same(TSignalKind::Noise, 42);
    TSignalGenerator other(TSignalKind::Noise, 43);
    std::vector<int32_t> x;
    std::vector<int32_t> y;
    std::vector<int32_t> z;
    one.Generate(0, 50, params, x);
    same.Generate(0, 50, params, y);
    other.Generate(0, 50, params, z);
    EXPECT_EQ(x, y);
    EXPECT_NE(x, z);
}

TEST(Signals, CalibrationSignals) {
    TSignalParams params;
    params.BytesPerSample = 2;
    params.Rate = 100;
    const int32_t top = FullScale(2);
    std::vector<int32_t> plain;
    std::vector<int32_t> shifted;
    std::vector<int32_t> wave;
    TSignalGenerator a(TSignalKind::Counter, 1);
    TSignalGenerator b(TSignalKind::Counter, 1);
    TSignalGenerator c(TSignalKind::Counter, 1);
    a.Generate(0, 50, params, plain);
    params.Calibration = 3;  // -5 V DC: the input moved down by half of full scale
    b.Generate(0, 50, params, shifted);
    params.Calibration = 4;  // 5 V sine: replaces the input
    c.Generate(0, 200, params, wave);
    for (size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(shifted[i], plain[i] - top / 2);
    }
    const auto [low, high] = std::minmax_element(wave.begin(), wave.end());
    EXPECT_NEAR(*high, top / 2, top / 50);
    EXPECT_NEAR(*low, -top / 2, top / 50);
}

}  // namespace

// The unit's temperatures follow a compressed day, each module its own; each
// channel's DC offset follows its module's temperature by its own coefficient.
TEST(Thermal, OffsetsFollowTheModuleTemperaturesOverACompressedDay) {
    for (int c = 0; c < 6; ++c) {
        double low = 100;
        double high = -100;
        for (double t = 0; t < ThermalPeriod; t += 10) {
            low = std::min(low, ModuleTemperature(c, t));
            high = std::max(high, ModuleTemperature(c, t));
        }
        EXPECT_GT(high - low, 8) << "a visible swing, channel " << c;
        EXPECT_LT(high - low, 18) << c;
        EXPECT_NEAR(ModuleTemperature(c, 100 + ThermalPeriod), ModuleTemperature(c, 100), 1e-9);
        EXPECT_NE(ModuleTemperature(c, 100), ModuleTemperature((c + 1) % 6, 100)) << c;
    }
    EXPECT_LT(DriftPerDegree(1), 0);
    EXPECT_GT(DriftPerDegree(2), 0);

    // Frames of six one-second sines: each second's mean is the channel's
    // fixed level plus its drift over that second, and the frame reports the
    // module temperature to a tenth of a degree.
    TSimConfig config;
    config.Channels = 6;
    TFirmware firmware(config);
    const double fs = FullScale(3);
    for (int second = 0; second <= 900; ++second) {
        const TWireFrame frame = firmware.NextFrame("00012345");
        if (second % 150 != 0) {
            continue;
        }
        for (int c = 0; c < 6; ++c) {
            const std::vector<int32_t>& samples = frame.Samples[c];
            ASSERT_EQ(samples.size(), 100u);
            double mean = 0;
            for (int32_t s : samples) {
                mean += s;
            }
            mean /= static_cast<double>(samples.size());
            // The drift runs on linearly through the second: its mean is
            // that of samples 0 ... 99 of 100.
            const double start = DriftCounts(c, second, fs, false);
            const double drift = start + (DriftCounts(c, second + 1, fs, false) - start) * 0.495;
            EXPECT_NEAR(mean, fs / 1000 * (c + 1) + drift, 1)
                << "channel " << c << " at " << second;
            EXPECT_EQ(frame.ModuleTemp[c], std::lround((ModuleTemperature(c, second) + 50) * 10));
        }
        EXPECT_EQ(frame.SensorTemp, std::lround((BoardTemperature(second) + 50) * 10));
    }
}
