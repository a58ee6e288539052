// The simulator's synthetic earthquakes: the --event values it takes and refuses, and the
// waveform's shape, channels, determinism and scaling to the sample width.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/event_signal.h"
#include "sim/sim_options.h"

namespace {

TEST(SimEvent, OptionValuesAreTakenOrRefusedWithTheReason) {
    struct TCase {
        const char* Text;
        const char* Error;  // a part of the message; nullptr: taken
        double At, Duration, Amplitude;
        uint32_t Channels;
        bool AtUtc;
    };
    const TCase cases[] = {
        {"40,20,1000000", nullptr, 40, 20, 1e6, 0x3F, false},
        {"0.5,3600,1", nullptr, 0.5, 3600, 1, 0x3F, false},
        {"10,5,2e6,1+3", nullptr, 10, 5, 2e6, 0x5, false},
        {"10,5,2e6,2-4+6", nullptr, 10, 5, 2e6, 0x2E, false},
        {"10,5,2e6,1-6", nullptr, 10, 5, 2e6, 0x3F, false},
        {"2025-01-01T00:01:10Z,10,5000", nullptr, 0, 10, 5000, 0x3F, true},
        {"40,20", "needs AT,DURATION,AMPLITUDE", 0, 0, 0, 0, false},
        {"", "needs AT,DURATION,AMPLITUDE", 0, 0, 0, 0, false},
        {"-1,20,1000", "needs AT,DURATION,AMPLITUDE", 0, 0, 0, 0, false},
        {"soon,20,1000", "needs AT,DURATION,AMPLITUDE", 0, 0, 0, 0, false},
        {"1999-12-31T23:59:59Z,20,1000", "needs AT,DURATION,AMPLITUDE", 0, 0, 0, 0, false},
        {"40,20,1000,1,2", "needs AT,DURATION,AMPLITUDE", 0, 0, 0, 0, false},
        {"40,0,1000", "DURATION must be", 0, 0, 0, 0, false},
        {"40,3601,1000", "DURATION must be", 0, 0, 0, 0, false},
        {"40,nan,1000", "DURATION must be", 0, 0, 0, 0, false},
        {"40,20,0", "AMPLITUDE must be", 0, 0, 0, 0, false},
        {"40,20,-5", "AMPLITUDE must be", 0, 0, 0, 0, false},
        {"40,20,3e9", "AMPLITUDE must be", 0, 0, 0, 0, false},
        {"40,20,1000,7", "CHANNELS must be", 0, 0, 0, 0, false},
        {"40,20,1000,0", "CHANNELS must be", 0, 0, 0, 0, false},
        {"40,20,1000,3-1", "CHANNELS must be", 0, 0, 0, 0, false},
        {"40,20,1000,1++2", "CHANNELS must be", 0, 0, 0, 0, false},
        {"40,20,1000,", "CHANNELS must be", 0, 0, 0, 0, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        const TSimOptions options = ParseSimOptions({"--event", c.Text, "--event=1,2,3"});
        if (c.Error == nullptr) {
            ASSERT_EQ(options.Error, "");
            ASSERT_EQ(options.Config.Events.size(), 2u);
            const TSimEvent& e = options.Config.Events[0];
            EXPECT_EQ(e.AtUtc, c.AtUtc);
            if (c.AtUtc) {
                EXPECT_EQ(e.AtUtcSeconds, 1735689600 + 70);
            } else {
                EXPECT_EQ(e.At, c.At);
            }
            EXPECT_EQ(e.Duration, c.Duration);
            EXPECT_EQ(e.Amplitude, c.Amplitude);
            EXPECT_EQ(e.Channels, c.Channels);
        } else {
            EXPECT_NE(options.Error.find(c.Error), std::string::npos) << options.Error;
        }
    }
    EXPECT_EQ(ParseSimOptions({"--event"}).Error, "--event needs a value");
}

TEST(SimEvent, WaveformHasAPOnsetALargerSOnsetAndDiesAwayByItsEnd) {
    TSimEvent e;
    e.Duration = 40;
    e.Amplitude = 1e6;
    e.Channels = 0x5;  // channels 1 and 3
    const double rate = 100, sp = SMinusP(e);
    EXPECT_DOUBLE_EQ(sp, 6);
    double beforeP = 0, pPeak = 0, sPeak = 0, lastSecond = 0, after = 0;
    for (int i = -500; i < 4500; ++i) {
        const double t = i / rate;
        const double v = std::fabs(EventCounts(e, 0, 1, 0, t, rate));
        EXPECT_EQ(EventCounts(e, 0, 1, 1, t, rate), 0);  // channel 2 left out
        if (t < 0) {
            beforeP = std::max(beforeP, v);
        } else if (t < sp) {
            pPeak = std::max(pPeak, v);
        } else if (t < e.Duration - 1) {
            sPeak = std::max(sPeak, v);
        } else if (t < e.Duration) {
            lastSecond = std::max(lastSecond, v);
        } else {
            after = std::max(after, v);
        }
        if (t >= 0 && t < 0.5) {
            EXPECT_LE(v, 0.35 * e.Amplitude);
        }
    }
    EXPECT_EQ(beforeP, 0);
    EXPECT_EQ(after, 0);
    EXPECT_GT(pPeak, 0.1 * e.Amplitude);
    EXPECT_GT(sPeak, 2 * pPeak);
    EXPECT_LE(sPeak, 1.2 * e.Amplitude);
    EXPECT_LT(lastSecond, 0.02 * e.Amplitude);
    // Deterministic from the seed, different for another seed, another event or channel.
    EXPECT_EQ(EventCounts(e, 0, 1, 0, 7.3, rate), EventCounts(e, 0, 1, 0, 7.3, rate));
    EXPECT_NE(EventCounts(e, 0, 1, 0, 7.3, rate), EventCounts(e, 0, 2, 0, 7.3, rate));
    EXPECT_NE(EventCounts(e, 0, 1, 0, 7.3, rate), EventCounts(e, 1, 1, 0, 7.3, rate));
    EXPECT_NE(EventCounts(e, 0, 1, 0, 7.3, rate), EventCounts(e, 0, 1, 2, 7.3, rate));
}

TEST(SimEvent, FramesCarryTheWaveformAtTheirTimesOnTheCountScaleOfEachWidth) {
    std::vector<TSimEvent> events(2);
    events[0].At = 10.5;  // the unit's clock
    events[0].Duration = 8;
    events[0].Amplitude = 4e6;
    events[1].AtUtc = true;  // UTC
    events[1].AtUtcSeconds = 1000030;
    events[1].Duration = 5;
    events[1].Amplitude = 2e6;
    events[1].Channels = 0x2;
    const int64_t epoch = 1000000;  // UTC of the unit's second 0
    const double rate = 50;
    for (int bytes = 1; bytes <= 4; ++bytes) {
        SCOPED_TRACE(bytes);
        const double unit = bytes >= 4 ? 1 : std::pow(256.0, 3 - bytes);  // counts per unit
        for (uint64_t second = 0; second < 40; ++second) {
            std::vector<int32_t> samples[6];
            for (int c = 0; c < 3; ++c) {
                samples[c].assign(50, 7);
            }
            AddEvents(events, 9,
                      TEventFrame{second, epoch + static_cast<int64_t>(second), rate, 3, bytes},
                      samples);
            for (int c = 0; c < 3; ++c) {
                for (int j = 0; j < 50; ++j) {
                    const double t = static_cast<double>(second) + j / rate;
                    const double counts = EventCounts(events[0], 0, 9, c, t - 10.5, rate) +
                                          EventCounts(events[1], 1, 9, c, t - 30, rate);
                    const double expected = std::clamp<double>(
                        7 + std::llround(EventCounts(events[0], 0, 9, c, t - 10.5, rate) / unit) +
                            std::llround(EventCounts(events[1], 1, 9, c, t - 30, rate) / unit),
                        -std::ldexp(1.0, 8 * bytes - 1), std::ldexp(1.0, 8 * bytes - 1) - 1);
                    ASSERT_EQ(samples[c][j], expected) << second << " " << c << " " << j;
                    if (counts == 0) {
                        ASSERT_EQ(samples[c][j], 7);
                    }
                }
            }
        }
    }
}

}  // namespace
