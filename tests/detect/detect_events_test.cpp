// The event detector on whole blocks: earthquakes made by the simulator's own event code in
// its own noise, an hour of noise alone, restarts at format changes and gaps, block lengths
// that must not matter, and the simulator itself over its pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "detect/event_detector.h"
#include "recording/block_intake.h"
#include "sim/event_signal.h"
#include "sim/signals.h"
#include "sim/sim_fixture.h"
#include "sim/sim_options.h"

namespace {

constexpr int64_t T0 = 1735689600;  // 2025-01-01T00:00:00Z

// How the series is made second by second.
struct TSeries {
    int Seconds = 400;
    double Rate = 100;
    int Channels = 3;
    int Bytes = 3;
    double Offset = 20000;  // counts the noise sits on
    std::vector<TSimEvent> Events;
    // Changes to the block of second s (format, time) and to the high-gain mask it is sent
    // under (bit n: channel n + 1 at gain 10), before its samples are made.
    std::function<void(int second, TRecordBlock&, int32_t& gainBits)> Change;
};

struct TBlocks {
    std::vector<TRecordBlock> Blocks;
    std::vector<int32_t> GainBits;  // of each block
};

// One block per second of the simulator's noise with the events added, as the unit sends them
// and the receiver keeps them (left-justified below 4 bytes).
TBlocks MakeBlocks(const TSeries& s) {
    TSignalGenerator noise(TSignalKind::Noise, 11);
    TBlocks blocks;
    for (int second = 0; second < s.Seconds; ++second) {
        TRecordBlock b;
        b.Time = T0 + second;
        b.ClockLocked = true;
        b.ChannelCount = s.Channels;
        b.SampleRate = s.Rate;
        b.BytesPerSample = s.Bytes;
        b.SamplesPerBlock = static_cast<int>(s.Rate);
        int32_t gainBits = 0;
        if (s.Change) {
            s.Change(second, b, gainBits);
        }
        std::vector<int32_t> wire[6];
        TSignalParams params;
        params.Rate = b.SampleRate;
        params.BytesPerSample = b.BytesPerSample;
        params.Offset = s.Offset;
        for (int c = 0; c < b.ChannelCount; ++c) {
            params.HighGain = (gainBits >> c & 1) != 0;
            noise.Generate(c, b.SamplesPerBlock, params, wire[c]);
        }
        AddEvents(s.Events, 5,
                  TEventFrame{static_cast<uint64_t>(second), b.Time, b.SampleRate, b.ChannelCount,
                              b.BytesPerSample},
                  wire);
        for (int c = 0; c < b.ChannelCount; ++c) {
            for (int32_t x : wire[c]) {
                b.Samples[static_cast<size_t>(c)].push_back(
                    b.BytesPerSample >= 4 ? x : x * (1 << (8 * (4 - b.BytesPerSample))));
            }
        }
        b.SerialNumber = "00012345";
        blocks.Blocks.push_back(std::move(b));
        blocks.GainBits.push_back(gainBits);
    }
    return blocks;
}

struct TRun {
    std::vector<TEventNews> News;
    std::vector<TEvent> Ended;
    std::vector<std::string> Restarts;  // per block
    std::vector<TDetectorNews> Blocks;
};

// `before` is called with each block's index before the detector takes it.
TRun Detect(const std::vector<TRecordBlock>& blocks, const std::vector<int32_t>& gainBits,
            const TDetectorSettings& settings = {},
            const std::function<void(size_t, TEventDetector&)>& before = {}) {
    auto detector = TEventDetector::Make(settings);
    EXPECT_TRUE(detector) << detector.Error().Text;
    TRun run;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (before) {
            before(i, *detector);
        }
        TDetectorNews news = (*detector).Take(blocks[i], i < gainBits.size() ? gainBits[i] : 0);
        for (const TEventNews& n : news.Events) {
            run.News.push_back(n);
            if (n.Kind == TEventNews::TKind::Ended) {
                run.Ended.push_back(n.Event);
            }
        }
        run.Restarts.push_back(news.Restart);
        run.Blocks.push_back(std::move(news));
    }
    return run;
}

TSimEvent Quake(double at, double duration, double amplitude, uint32_t channels = 0x3F) {
    TSimEvent e;
    e.At = at;
    e.Duration = duration;
    e.Amplitude = amplitude;
    e.Channels = channels;
    return e;
}

TEST(EventDetector, ThreeEarthquakesInNoiseGiveExactlyThoseThree) {
    TSeries series;
    series.Events = {Quake(100.25, 20, 1e6), Quake(200, 30, 3e6), Quake(320.5, 40, 1e7, 0x3)};
    // Channel 1 at high gain: its volts are a tenth of the others' per count.
    // (The gain only converts the volts here: the noise is made at gain 1 on every channel.)
    const std::vector<TRecordBlock> blocks = MakeBlocks(series).Blocks;
    const TRun run = Detect(blocks, std::vector<int32_t>(blocks.size(), 1));

    ASSERT_EQ(run.News.size(), 6u);
    ASSERT_EQ(run.Ended.size(), 3u);
    const std::vector<std::vector<int>> triggered = {{0, 1, 2}, {0, 1, 2}, {0, 1}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const TSimEvent& planted = series.Events[i];
        EXPECT_EQ(run.News[2 * i].Kind, TEventNews::TKind::Started);
        EXPECT_EQ(run.News[2 * i + 1].Kind, TEventNews::TKind::Ended);
        EXPECT_EQ(run.News[2 * i].Event.Id, i + 1);
        EXPECT_EQ(run.News[2 * i].Event.Start, run.Ended[i].Start);
        const TEvent& e = run.Ended[i];
        EXPECT_EQ(e.Id, i + 1);
        EXPECT_FALSE(e.Cut);
        EXPECT_EQ(e.SampleRate, 100);
        // The start within the STA (1 s) after the P onset, on a sample.
        const double delay = SecondsBetween(TSampleTime{T0, 0}, e.Start) - planted.At;
        EXPECT_GE(delay, 0) << FormatSampleTime(e.Start);
        EXPECT_LE(delay, 1.0) << FormatSampleTime(e.Start);
        EXPECT_EQ(e.Start.Nanoseconds % 10000000, 0);
        EXPECT_GT(e.Seconds(), 3);
        EXPECT_LT(SecondsBetween(TSampleTime{T0, 0}, e.End), planted.At + planted.Duration + 10);
        EXPECT_EQ(e.TriggeredChannels(), triggered[i]);
        EXPECT_GT(e.PeakRatio, 4);
        EXPECT_FALSE(e.Calibration);
        EXPECT_EQ(e.Clipped(), i == 2);  // 1e7 counts: beyond the 24 bits
        ASSERT_EQ(e.Channels.size(), 3u);
        for (const TEventChannel& c : e.Channels) {
            SCOPED_TRACE(c.Channel);
            if (c.Triggered) {
                EXPECT_GE(c.FirstTrigger, e.Start);
                EXPECT_LT(c.FirstTrigger, e.End);
                EXPECT_GE(c.PeakRatio, 4);
                EXPECT_GT(c.PeakCounts, 0.4 * planted.Amplitude);
                EXPECT_LT(c.PeakCounts, 1.3 * planted.Amplitude);
            } else {
                EXPECT_LT(c.PeakRatio, 4);
                EXPECT_LT(c.PeakCounts, 0.05 * planted.Amplitude);  // noise only
            }
            const double microvoltsPerCount = c.Channel == 0 ? 0.1 : 1;
            EXPECT_DOUBLE_EQ(c.PeakVolts, c.PeakCounts * microvoltsPerCount * 1e-6);
        }
        const TSampleTime next = i + 1 < 3 ? run.Ended[i + 1].Start : TSampleTime{T0 + 1000, 0};
        EXPECT_LT(e.End, next);
    }
    // The live ratios: every carried chosen channel, ready once the LTA has filled (30 s).
    for (size_t b = 0; b < blocks.size(); ++b) {
        ASSERT_EQ(run.Blocks[b].Ratios.size(), 3u);
        EXPECT_EQ(run.Blocks[b].Ratios[0].Ready, b + 1 >= 30) << b;
        EXPECT_EQ(run.Restarts[b], "");
    }
    EXPECT_GT(run.Blocks[205].Ratios[1].BlockPeak, 4);
    EXPECT_TRUE(run.Blocks[205].Ratios[1].Triggered);
    EXPECT_LT(run.Blocks[90].Ratios[1].BlockPeak, 2);
}

TEST(EventDetector, AnHourOfNoiseGivesNoEvent) {
    TSeries series;
    series.Seconds = 3600;
    const TBlocks made = MakeBlocks(series);
    const TRun run = Detect(made.Blocks, made.GainBits);
    EXPECT_TRUE(run.News.empty());
    double highest = 0;
    for (const TDetectorNews& news : run.Blocks) {
        for (const TChannelRatio& r : news.Ratios) {
            highest = std::max(highest, r.BlockPeak);
            EXPECT_FALSE(r.Triggered);
        }
    }
    EXPECT_GT(highest, 1);  // the ratios move
    EXPECT_LT(highest, 4);
}

TEST(EventDetector, FormatChangesAndGapsRestartWithoutASpuriousEvent) {
    struct TCase {
        const char* Name;
        std::function<void(TRecordBlock&, int32_t&)> Change;  // from second 60 on
        const char* Says;
    };
    const TCase cases[] = {
        {"rate", [](TRecordBlock& b, int32_t&) { b.SampleRate = 50, b.SamplesPerBlock = 50; },
         "sample rate changed from 100 to 50"},
        {"channels", [](TRecordBlock& b, int32_t&) { b.ChannelCount = 4; },
         "channels changed from 3 to 4"},
        {"width", [](TRecordBlock& b, int32_t&) { b.BytesPerSample = 4; },
         "sample width changed from 3 to 4"},
        {"gain", [](TRecordBlock&, int32_t& gainBits) { gainBits = 0x2; }, "gain changed"},
        {"gap", [](TRecordBlock& b, int32_t&) { b.Time += 100; }, "a gap of 100 s"},
        {"gap beyond the bridge", [](TRecordBlock& b, int32_t&) { b.Time += 6; }, "a gap of 6 s"},
        {"back", [](TRecordBlock& b, int32_t&) { b.Time -= 50; }, "went back by 50 s"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSeries series;
        series.Seconds = 150;
        series.Change = [&](int second, TRecordBlock& b, int32_t& gainBits) {
            if (second >= 60) {
                c.Change(b, gainBits);
            }
        };
        TBlocks made = MakeBlocks(series);
        std::vector<TRecordBlock>& blocks = made.Blocks;
        // The change comes with a jump of the offset and of the noise: ten times larger, held
        // at the sample word's full scale as a converter holds it (a channel at gain 10 goes
        // beyond it).
        for (size_t i = 60; i < blocks.size(); ++i) {
            for (auto& channel : blocks[i].Samples) {
                for (int32_t& x : channel) {
                    x = static_cast<int32_t>(std::clamp<int64_t>(
                        int64_t{x} * 10 + 2000000 * 256, std::numeric_limits<int32_t>::min(),
                        std::numeric_limits<int32_t>::max()));
                }
            }
        }
        const TRun run = Detect(blocks, made.GainBits);
        EXPECT_TRUE(run.News.empty());
        for (size_t i = 0; i < blocks.size(); ++i) {
            if (i == 60) {
                EXPECT_NE(run.Restarts[i].find(c.Says), std::string::npos) << run.Restarts[i];
            } else {
                EXPECT_EQ(run.Restarts[i], "") << i;
            }
            ASSERT_FALSE(run.Blocks[i].Ratios.empty());
            EXPECT_EQ(run.Blocks[i].Ratios[0].Ready, i + 1 >= 30 && (i < 60 || i + 1 >= 90)) << i;
        }
    }
    // The same jumps without a restart do make an event: the restarts are what prevents it.
    TSeries series;
    series.Seconds = 150;
    std::vector<TRecordBlock> blocks = MakeBlocks(series).Blocks;
    for (size_t i = 60; i < blocks.size(); ++i) {
        for (auto& channel : blocks[i].Samples) {
            for (int32_t& x : channel) {
                x = x * 10 + 2000000 * 256;
            }
        }
    }
    EXPECT_FALSE(Detect(blocks, {}).Ended.empty());
}

TEST(EventDetector, AnEventRunningAtARateChangeEndsThereAsCut) {
    TSeries series;
    series.Seconds = 200;
    series.Events = {Quake(100, 40, 5e6)};
    series.Change = [](int second, TRecordBlock& b, int32_t&) {
        if (second >= 110) {
            b.SampleRate = 50, b.SamplesPerBlock = 50;
        }
    };
    const TRun run = Detect(MakeBlocks(series).Blocks, {});
    ASSERT_EQ(run.News.size(), 2u);
    ASSERT_EQ(run.Ended.size(), 1u);
    EXPECT_TRUE(run.Ended[0].Cut);
    EXPECT_EQ(run.Ended[0].End, (TSampleTime{T0 + 110, 0}));
    EXPECT_GE(run.Ended[0].Start, (TSampleTime{T0 + 100, 0}));
    EXPECT_EQ(FormatSampleTime(run.Ended[0].End), "2025-01-01T00:01:50.000000Z");
}

TEST(EventDetector, BlockLengthsDoNotChangeTheOutcome) {
    TSeries series;
    series.Events = {Quake(100.25, 20, 1e6), Quake(200, 30, 3e6), Quake(320.5, 40, 1e7, 0x3)};
    const std::vector<TRecordBlock> seconds = MakeBlocks(series).Blocks;
    // The same samples in blocks of 1 to 7 seconds.
    std::vector<TRecordBlock> longer;
    std::vector<size_t> ends;  // the index of each long block's last second
    const int lengths[] = {3, 1, 7, 2, 5, 4, 6};
    for (size_t i = 0, k = 0; i < seconds.size(); ++k) {
        TRecordBlock b = seconds[i];
        const size_t n = std::min<size_t>(lengths[k % 7], seconds.size() - i);
        for (size_t j = 1; j < n; ++j) {
            for (int c = 0; c < b.ChannelCount; ++c) {
                const auto& more = seconds[i + j].Samples[static_cast<size_t>(c)];
                auto& into = b.Samples[static_cast<size_t>(c)];
                into.insert(into.end(), more.begin(), more.end());
            }
        }
        b.SamplesPerBlock = static_cast<int>(b.Samples[0].size());
        longer.push_back(std::move(b));
        i += n;
        ends.push_back(i - 1);
    }
    const TRun one = Detect(seconds, {}), many = Detect(longer, {});
    ASSERT_EQ(one.Ended.size(), 3u);
    ASSERT_EQ(many.Ended.size(), one.Ended.size());
    for (size_t i = 0; i < one.Ended.size(); ++i) {
        const TEvent &a = one.Ended[i], &b = many.Ended[i];
        EXPECT_EQ(a.Start, b.Start);
        EXPECT_EQ(a.End, b.End);
        EXPECT_EQ(a.PeakRatio, b.PeakRatio);
        ASSERT_EQ(a.Channels.size(), b.Channels.size());
        for (size_t c = 0; c < a.Channels.size(); ++c) {
            EXPECT_EQ(a.Channels[c].PeakCounts, b.Channels[c].PeakCounts);
            EXPECT_EQ(a.Channels[c].FirstTrigger, b.Channels[c].FirstTrigger);
        }
    }
    for (size_t k = 0; k < ends.size(); ++k) {
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(many.Blocks[k].Ratios[c].Ratio, one.Blocks[ends[k]].Ratios[c].Ratio);
        }
        EXPECT_EQ(many.Restarts[k], "");
    }
}

// Strong earthquakes a minute apart while about 2% of the frames are lost (some two in a
// row): every lost frame is bridged, none restarts the channels, and each quake is one event
// where it was planted, whether or not a frame was lost within an LTA before it.
TEST(EventDetector, TwelveQuakesAreFoundWithTwoPercentOfFramesDropped) {
    TSeries series;
    series.Seconds = 820;
    for (int i = 0; i < 12; ++i) {
        series.Events.push_back(Quake(40 + 64 * i + 0.37 * i, 20, 3e6));
    }
    const std::vector<TRecordBlock> all = MakeBlocks(series).Blocks;
    std::vector<TRecordBlock> blocks;
    std::vector<int> lost;  // the seconds dropped
    std::mt19937_64 rng(7);
    for (size_t i = 0; i < all.size(); ++i) {
        if (i > 0 && (rng() % 50 == 0 || i == 301 || i == 302)) {
            lost.push_back(static_cast<int>(i));
        } else {
            blocks.push_back(all[i]);
        }
    }
    // Frames lost within the LTA (30 s) before a quake: each restart there made it missed.
    int blindQuakes = 0;
    for (const TSimEvent& e : series.Events) {
        blindQuakes +=
            std::any_of(lost.begin(), lost.end(), [&](int s) { return s < e.At && s > e.At - 30; });
    }
    ASSERT_GE(lost.size(), 12u);
    ASSERT_GE(blindQuakes, 5);

    const TRun run = Detect(blocks, {});
    int bridged = 0;
    for (const TDetectorNews& news : run.Blocks) {
        EXPECT_EQ(news.Restart, "");
        bridged += news.Bridged > 0;
    }
    // A gap for each run of lost frames.
    int runs = 0;
    for (size_t i = 0; i < lost.size(); ++i) {
        runs += i == 0 || lost[i] != lost[i - 1] + 1;
    }
    EXPECT_EQ(bridged, runs);
    ASSERT_EQ(run.Ended.size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        const TEvent& e = run.Ended[i];
        const double delay = SecondsBetween(TSampleTime{T0, 0}, e.Start) - series.Events[i].At;
        EXPECT_GE(delay, 0);
        EXPECT_LE(delay, 1.0);
        EXPECT_FALSE(e.Cut);
        EXPECT_FALSE(e.Calibration);
        EXPECT_EQ(e.TriggeredChannels(), (std::vector<int>{0, 1, 2}));
    }
}

// A half-scale calibration step on every channel from second 100 to 160, an earthquake at
// 250, told (or not) by SetCalibration; an earthquake with S 8 s after P; one beyond the
// sample word's full scale.
TEST(EventDetector, OneEventPerQuakeAndCalibrationsAndClippingMarked) {
    struct TExpected {
        bool Calibration = false;
        bool Clipped = false;
    };
    struct TCase {
        const char* Name;
        std::vector<TSimEvent> Events;
        bool Step = false;       // the calibration step from 100 s to 160 s
        bool Commanded = false;  // SetCalibration at its start and end
        double Hold = 10;
        std::vector<TExpected> Expected;  // the events, in order
        double Rate = 100;
    };
    const TExpected plain, calibration{true, false}, clipped{false, true};
    const TCase cases[] = {
        {"S 8 s after P", {Quake(100, 60, 1e6)}, false, false, 10, {plain}},
        {"S 8 s after P, no hold", {Quake(100, 60, 1e6)}, false, false, 0, {plain, plain}},
        {"calibration commanded",
         {Quake(250, 20, 3e6)},
         true,
         true,
         10,
         {calibration, calibration, plain}},
        {"calibration recognised",
         {Quake(250, 20, 3e6)},
         true,
         false,
         10,
         {calibration, calibration, plain}},
        {"calibration recognised at 50 sps",
         {Quake(250, 20, 3e6)},
         true,
         false,
         10,
         {calibration, calibration, plain},
         50},
        {"clipped", {Quake(50, 20, 1e6), Quake(150, 20, 2e7)}, false, false, 10, {plain, clipped}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSeries series;
        series.Seconds = 300;
        series.Rate = c.Rate;
        series.Events = c.Events;
        std::vector<TRecordBlock> blocks = MakeBlocks(series).Blocks;
        if (c.Step) {
            for (size_t i = 100; i < 160; ++i) {
                for (auto& channel : blocks[i].Samples) {
                    for (int32_t& x : channel) {
                        x += (1 << 22) * 256;  // half of 24-bit full scale, left-justified
                    }
                }
            }
        }
        TDetectorSettings settings;
        settings.HoldSeconds = c.Hold;
        const TRun run = Detect(blocks, {}, settings, [&](size_t i, TEventDetector& d) {
            if (c.Commanded && (i == 100 || i == 160)) {
                d.SetCalibration(i == 100);
            }
        });
        ASSERT_EQ(run.Ended.size(), c.Expected.size());
        for (size_t i = 0; i < c.Expected.size(); ++i) {
            SCOPED_TRACE(i);
            const TEvent& e = run.Ended[i];
            EXPECT_EQ(e.Calibration, c.Expected[i].Calibration);
            EXPECT_EQ(e.Clipped(), c.Expected[i].Clipped);
            for (const TEventChannel& ch : e.Channels) {
                EXPECT_EQ(ch.Clipped, c.Expected[i].Clipped);  // every channel went beyond
            }
        }
        // The start's news carries the calibration too.
        for (const TEventNews& n : run.News) {
            if (n.Kind == TEventNews::TKind::Started) {
                const auto ended =
                    std::find_if(run.Ended.begin(), run.Ended.end(),
                                 [&](const TEvent& e) { return e.Id == n.Event.Id; });
                ASSERT_NE(ended, run.Ended.end());
                EXPECT_EQ(n.Event.Calibration, ended->Calibration);
            }
        }
        if (std::string(c.Name) == "S 8 s after P") {
            EXPECT_GT(SecondsBetween(TSampleTime{T0, 0}, run.Ended[0].End), 100 + 8 + 2);
        }
    }
}

// Blocks that stop within an event's hold: EndHeld ends it where the hold would have.
TEST(EventDetector, AnEventInItsHoldEndsWhereItsTriggersDid) {
    TSeries series;
    series.Seconds = 200;
    series.Events = {Quake(100, 20, 3e6)};
    const std::vector<TRecordBlock> blocks = MakeBlocks(series).Blocks;
    const TRun whole = Detect(blocks, {});
    ASSERT_EQ(whole.Ended.size(), 1u);
    const int64_t ended = whole.Ended[0].End.Seconds - T0;
    auto detector = TEventDetector::Make(TDetectorSettings{});
    ASSERT_TRUE(detector);
    for (int64_t i = 0; i <= ended + 5; ++i) {
        (*detector).Take(blocks[static_cast<size_t>(i)], 0);
    }
    ASSERT_TRUE((*detector).InEvent());
    const TDetectorNews news = (*detector).EndHeld();
    ASSERT_EQ(news.Events.size(), 1u);
    EXPECT_EQ(news.Events[0].Kind, TEventNews::TKind::Ended);
    EXPECT_EQ(news.Events[0].Event.End, whole.Ended[0].End);
    EXPECT_FALSE(news.Events[0].Event.Cut);
    EXPECT_FALSE((*detector).InEvent());
    EXPECT_TRUE((*detector).EndHeld().Events.empty());
}

// Channel 1 triggers half a second before channel 2, channel 3 not at all: the event starts at
// channel 1's trigger, which it keeps; channel 2's is the coincidence.
TEST(EventDetector, EachChannelKeepsItsOwnTriggerTime) {
    TSeries series;
    series.Seconds = 200;
    series.Events = {Quake(100, 20, 3e6, 0x1), Quake(100.5, 20, 3e6, 0x2)};
    const TRun run = Detect(MakeBlocks(series).Blocks, {});
    ASSERT_EQ(run.Ended.size(), 1u);
    ASSERT_EQ(run.News.size(), 2u);
    for (const TEvent& e : {run.News[0].Event, run.Ended[0]}) {
        ASSERT_EQ(e.Channels.size(), 3u);
        const TEventChannel &one = e.Channels[0], &two = e.Channels[1];
        EXPECT_TRUE(one.Triggered);
        EXPECT_TRUE(two.Triggered);
        EXPECT_FALSE(e.Channels[2].Triggered);
        EXPECT_EQ(e.Start, one.FirstTrigger);
        EXPECT_EQ(e.Coincidence, two.FirstTrigger);
        const double apart = SecondsBetween(one.FirstTrigger, two.FirstTrigger);
        EXPECT_GT(apart, 0.3);
        EXPECT_LT(apart, 0.7);
        EXPECT_GE(SecondsBetween(TSampleTime{T0, 0}, e.Start), 100);
        EXPECT_LE(SecondsBetween(TSampleTime{T0, 0}, e.Start), 101);
    }
}

TEST(EventDetector, FullScaleIsTheWordsExtremeCodeOrThe24BitsOfAFourByteSample) {
    struct TCase {
        int32_t Raw;
        int Bytes;
        bool Full;
    };
    const TCase cases[] = {
        {0x7FFFFF00, 3, true},      {-0x7FFFFFFF - 1, 3, true}, {0x7FFFFE00, 3, false},
        {-0x7FFFFF00, 3, false},    {0x7FFF0000, 2, true},      {0x7FFE0000, 2, false},
        {0x7F000000, 1, true},      {-0x7FFFFFFF - 1, 1, true}, {0x7E000000, 1, false},
        {(1 << 23) - 1, 4, true},   {(1 << 23) - 2, 4, false},  {-(1 << 23), 4, true},
        {-(1 << 23) + 1, 4, false}, {0x7FFFFFFF, 4, true},      {0, 4, false},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(AtFullScale(c.Raw, c.Bytes), c.Full) << c.Raw << " " << c.Bytes;
    }
}

// The simulator on its pseudo-terminal with two --event options, one at a UTC time on channels
// 1 and 2, a larger one at a second of its clock: the detector sees both where they were
// planted. (A large event raises the LTA for a minute or two after it: the smaller comes first.)
using TDetectorOnSim = TSimFixture;

TEST_F(TDetectorOnSim, EventsPlantedByTheOptionsAreDetected) {
    const TSimOptions options =
        ParseSimOptions({"--signal", "noise", "--rate", "50", "--channels", "3", "--baud", "115200",
                         "--speed", "100", "--start", "2025-01-01T00:00:00Z", "--event",
                         "2025-01-01T00:00:45Z,10,2000000,1+2", "--event", "110,15,5000000"});
    ASSERT_EQ(options.Error, "");
    Launch(options.Config, 115200);
    auto detector = TEventDetector::Make(TDetectorSettings{});
    ASSERT_TRUE(detector);
    std::vector<TEvent> events;
    TBlockIntake intake(SystemUtcSeconds);
    size_t next = 0;
    bool done = false;
    Until(
        [&] {
            for (; next < probe_.Frames().size(); ++next) {
                const TRecordBlock r = intake.Take(*probe_.Frames()[next], 115200).Record;
                for (const TEventNews& news : (*detector).Take(r, 0).Events) {
                    if (news.Kind == TEventNews::TKind::Ended) {
                        events.push_back(news.Event);
                    }
                }
                done = done || r.Time >= T0 + 135;
            }
            return done;
        },
        ms(30000));
    ASSERT_TRUE(done) << probe_.Frames().size() << " frames";
    EXPECT_EQ(probe_.FailedFrames(), 0u);
    ASSERT_EQ(events.size(), 2u);
    const double onsets[] = {45, 110};
    const std::vector<std::vector<int>> triggered = {{0, 1}, {0, 1, 2}};
    for (size_t i = 0; i < 2; ++i) {
        const double delay = SecondsBetween(TSampleTime{T0, 0}, events[i].Start) - onsets[i];
        EXPECT_GE(delay, 0) << i << " " << FormatSampleTime(events[i].Start);
        EXPECT_LE(delay, 1.0) << i << " " << FormatSampleTime(events[i].Start);
        EXPECT_EQ(events[i].TriggeredChannels(), triggered[i]) << i;
    }
}

}  // namespace
