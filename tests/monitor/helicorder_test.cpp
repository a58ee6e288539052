// The helicorder's slots: samples into half-second slots by their time at any rate, min and max
// merged across blocks, the band-pass started afresh on a rate change, the day kept and no
// more, the memory it takes, and the rows of the page.
#include "monitor/helicorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

namespace {

using TSeries = THelicorder::TSeries;
constexpr int64_t T0 = 1767225600;  // 2026-01-01T00:00:00Z

// A block of `channels` channels of `n` samples at `rate`, 4-byte samples (the count scale as
// held), sample j of channel c being value(c, j).
TRecordBlock Block(int64_t time, double rate, int n, int channels,
                   const std::function<int32_t(int, int)>& value, int bytes = 4) {
    TRecordBlock block;
    block.Time = time;
    block.ChannelCount = channels;
    block.SampleRate = rate;
    block.BytesPerSample = bytes;
    block.SamplesPerBlock = n;
    for (int c = 0; c < channels; ++c) {
        for (int j = 0; j < n; ++j) {
            block.Samples[static_cast<size_t>(c)].push_back(value(c, j));
        }
    }
    return block;
}

int64_t Slot(int64_t second) {
    return THelicorder::SlotOf(second);
}

}  // namespace

// Which samples land in which slot, for rates that do and do not divide a half second.
TEST(Helicorder, SamplesFallIntoTheHalfSecondOfTheirTime) {
    struct TCase {
        double Rate;
        int Samples;
        int Bytes;
        int32_t Scale;  // a sample word is value x Scale
        // Per slot of the block: the lowest and highest sample index (the value is the index).
        std::vector<std::pair<float, float>> Slots;
    };
    const TCase cases[] = {
        {100, 100, 4, 1, {{0, 49}, {50, 99}}},
        {3, 3, 4, 1, {{0, 1}, {2, 2}}},                  // 0, 1/3 | 2/3
        {5, 5, 3, 256, {{0, 2}, {3, 4}}},                // 0, 0.2, 0.4 | 0.6, 0.8; 24-bit words
        {1, 1, 4, 1, {{0, 0}, {1, 0}}},                  // one sample; the second slot empty
        {4, 8, 4, 1, {{0, 1}, {2, 3}, {4, 5}, {6, 7}}},  // a block of two seconds
        {500, 500, 4, 1, {{0, 249}, {250, 499}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Rate);
        THelicorder heli;
        heli.Take(Block(
            T0, c.Rate, c.Samples, 2, [&c](int ch, int j) { return (ch == 0 ? j : -j) * c.Scale; },
            c.Bytes));
        EXPECT_EQ(heli.NewestSlot(), Slot(T0) + static_cast<int64_t>(c.Slots.size()) -
                                         (c.Slots.back().first > c.Slots.back().second ? 2 : 1));
        for (size_t s = 0; s < c.Slots.size(); ++s) {
            const int64_t slot = Slot(T0) + static_cast<int64_t>(s);
            const auto range = heli.Range(0, TSeries::Raw, slot, slot + 1);
            const auto negative = heli.Range(1, TSeries::Raw, slot, slot + 1);
            if (c.Slots[s].first > c.Slots[s].second) {
                EXPECT_TRUE(range.Empty()) << s;
                continue;
            }
            EXPECT_EQ(range.Min, c.Slots[s].first) << s;
            EXPECT_EQ(range.Max, c.Slots[s].second) << s;
            EXPECT_EQ(negative.Min, -c.Slots[s].second) << s;
            EXPECT_EQ(negative.Max, -c.Slots[s].first) << s;
        }
        EXPECT_TRUE(heli.Range(0, TSeries::Raw, Slot(T0) - 10, Slot(T0)).Empty());
        EXPECT_TRUE(heli.Range(2, TSeries::Raw, Slot(T0), Slot(T0) + 10).Empty());  // not carried
    }
    EXPECT_EQ(THelicorder::SlotOf(T0, 499999999), Slot(T0));
    EXPECT_EQ(THelicorder::SlotOf(T0, 500000000), Slot(T0) + 1);
}

// Ranges merge across blocks; a rate change keeps the slots and designs the band-pass again
// for the new rate, settled on its first sample so that the offset does not ring.
TEST(Helicorder, RangesAcrossBlocksAndARateChange) {
    THelicorder heli({1, 10, 2});
    const double offset = 50000, amplitude = 1000, hz = 8;
    const auto sine = [&](double rate, int64_t second) {
        return [&, rate, second](int, int j) {
            const double t = static_cast<double>(second - T0) + j / rate;
            return static_cast<int32_t>(
                std::lround(offset + amplitude * std::sin(2 * std::numbers::pi * hz * t)));
        };
    };
    for (int64_t s = 0; s < 60; ++s) {
        heli.Take(Block(T0 + s, 100, 100, 1, sine(100, T0 + s)));
    }
    for (int64_t s = 60; s < 120; ++s) {
        heli.Take(Block(T0 + s, 50, 50, 1, sine(50, T0 + s)));
    }
    // Raw: the sine on its offset in every slot of both rates, and merged over the blocks.
    for (const int64_t s : {int64_t{10}, int64_t{59}, int64_t{60}, int64_t{119}}) {
        const auto slot = heli.Range(0, TSeries::Raw, Slot(T0 + s), Slot(T0 + s) + 1);
        EXPECT_NEAR(slot.Max, offset + amplitude, 0.05 * amplitude) << s;
        EXPECT_NEAR(slot.Min, offset - amplitude, 0.05 * amplitude) << s;
    }
    const auto all = heli.Range(0, TSeries::Raw, Slot(T0), Slot(T0 + 120));
    EXPECT_NEAR(all.Max, offset + amplitude, 0.01 * amplitude);
    EXPECT_NEAR(heli.Centre(0, TSeries::Raw, Slot(T0), Slot(T0 + 120)), offset, 0.02 * amplitude);
    EXPECT_EQ(heli.NewestSlot(), Slot(T0 + 119) + 1);
    // Filtered: no offset, the sine in the band at both rates, no ringing at the change
    // (a filter kept from 100 samples per second would pass 8 Hz at a third at 50).
    for (const int64_t s : {int64_t{5}, int64_t{50}, int64_t{60}, int64_t{61}, int64_t{110}}) {
        const auto slot = heli.Range(0, TSeries::Filtered, Slot(T0 + s), Slot(T0 + s) + 2);
        EXPECT_GT(slot.Max, 0.8 * amplitude) << s;
        EXPECT_LT(slot.Max, 1.15 * amplitude) << s;
        EXPECT_LT(slot.Min, -0.8 * amplitude) << s;
        EXPECT_NEAR(heli.Centre(0, TSeries::Filtered, Slot(T0 + s), Slot(T0 + s) + 2), 0,
                    0.15 * amplitude)
            << s;
    }
    // A band that does not fit the rate leaves the filtered series empty, the raw one filled.
    heli.SetBand({30, 40, 2});
    heli.Take(Block(T0 + 120, 50, 50, 1, sine(50, T0 + 120)));
    EXPECT_TRUE(heli.Range(0, TSeries::Filtered, Slot(T0 + 120), Slot(T0 + 121)).Empty());
    EXPECT_FALSE(heli.Range(0, TSeries::Raw, Slot(T0 + 120), Slot(T0 + 121)).Empty());
}

// A day is kept and no more; the memory is that of the slots, whatever the rate or the time
// run; a step back of more than an hour empties the day, a small one merges.
TEST(Helicorder, KeepsTheNewestDayInBoundedMemory) {
    THelicorder heli;
    EXPECT_EQ(heli.Bytes(), 0u);
    const size_t perChannel = 2 * THelicorder::SlotCount * sizeof(THelicorder::TRange);
    EXPECT_EQ(perChannel, 2764800u);
    // 25 hours at one sample per second, the value the hour of the day.
    const auto hourly = [](int64_t s) {
        return [s](int c, int) { return static_cast<int32_t>(s / 3600 * 10 + c); };
    };
    for (int64_t s = 0; s < 25 * 3600; ++s) {
        heli.Take(Block(T0 + s, 1, 1, 6, hourly(s)));
    }
    EXPECT_EQ(heli.Bytes(), 6 * perChannel);
    EXPECT_LE(heli.Bytes(), 17u * 1000 * 1000);
    const int64_t newest = Slot(T0 + 25 * 3600 - 1);
    EXPECT_EQ(heli.NewestSlot(), newest);
    EXPECT_EQ(heli.OldestSlot(), newest - static_cast<int64_t>(THelicorder::SlotCount) + 1);
    // The first hour has gone; the second is there from the slot a day before the newest.
    EXPECT_TRUE(heli.Range(0, TSeries::Raw, Slot(T0), Slot(T0 + 3600)).Empty());
    const auto second = heli.Range(3, TSeries::Raw, Slot(T0 + 3600), Slot(T0 + 7200));
    EXPECT_EQ(second.Min, 13);
    EXPECT_EQ(second.Max, 13);
    const auto day = heli.Range(5, TSeries::Raw, heli.OldestSlot(), newest + 1);
    EXPECT_EQ(day.Min, 15);
    EXPECT_EQ(day.Max, 245);
    // At 500 samples per second the same memory.
    heli.Take(Block(T0 + 25 * 3600, 500, 500, 6, [](int, int j) { return j; }));
    EXPECT_EQ(heli.Bytes(), 6 * perChannel);

    // A small step back merges into the slots it falls in.
    heli.Take(Block(T0 + 25 * 3600 - 10, 1, 1, 6, [](int, int) { return -7; }));
    EXPECT_EQ(
        heli.Range(0, TSeries::Raw, Slot(T0 + 25 * 3600 - 10), Slot(T0 + 25 * 3600 - 10) + 1).Min,
        -7);
    EXPECT_EQ(heli.NewestSlot(), Slot(T0 + 25 * 3600) + 1);
    // Two hours back: the day starts again there.
    heli.Take(Block(T0 + 23 * 3600, 1, 1, 6, [](int, int) { return 1; }));
    EXPECT_EQ(heli.NewestSlot(), Slot(T0 + 23 * 3600));
    EXPECT_TRUE(heli.Range(0, TSeries::Raw, heli.OldestSlot(), Slot(T0 + 23 * 3600)).Empty());
    // A jump of more than a day forgets everything before it.
    heli.Take(Block(T0 + 50 * 3600, 1, 1, 6, [](int, int) { return 2; }));
    const auto after = heli.Range(0, TSeries::Raw, heli.OldestSlot(), heli.NewestSlot() + 1);
    EXPECT_EQ(after.Min, 2);
    EXPECT_EQ(after.Max, 2);
    heli.Clear();
    EXPECT_EQ(heli.Bytes(), 0u);
    EXPECT_EQ(heli.NewestSlot(), -1);
}

TEST(Helicorder, RowsEndWithTheRowOfTheNewestSecond) {
    struct TCase {
        int64_t Newest;
        int Hours, RowMinutes;
        int64_t FirstStart;
        int Count;
    };
    const TCase cases[] = {
        {T0 + 3599, 24, 30, T0 + 1800 - 47 * 1800, 48},
        {T0 + 3600, 24, 30, T0 + 3600 - 47 * 1800, 48},
        {T0 + 100, 1, 15, T0 - 3 * 900, 4},
        {T0 + 100, 12, 60, T0 - 11 * 3600, 12},
        {T0 + 86399, 6, 15, T0 + 86400 - 900 - 23 * 900, 24},
    };
    for (const TCase& c : cases) {
        const THelicorderRows rows = HelicorderRows(c.Newest, c.Hours, c.RowMinutes);
        EXPECT_EQ(rows.FirstStart, c.FirstStart) << c.Newest;
        EXPECT_EQ(rows.Count, c.Count);
        EXPECT_EQ(rows.RowOf(c.Newest), c.Count - 1);
        EXPECT_EQ(rows.RowOf(c.FirstStart - 1), -1);
        EXPECT_EQ(rows.RowOf(c.FirstStart), 0);
        EXPECT_EQ(rows.RowOf(rows.Start(c.Count)), c.Count);
    }
}

// The automatic scale's level: the median slot span, which events on fewer than half of the
// slots do not move, and an empty channel or range has none; the scale a power of two that
// puts that span at an eighth of a row, within 16 counts and full scale.
TEST(Helicorder, TheNoiseLevelIsTheMedianSpanWhateverTheEvents) {
    THelicorder helicorder;
    // 100 seconds at 10 samples per second: a slot of five samples alternating +-100 spans
    // 200; seconds 20 ... 59 (40% of the slots) an earthquake of +-100000.
    for (int64_t s = 0; s < 100; ++s) {
        const int32_t amplitude = s >= 20 && s < 60 ? 100000 : 100;
        helicorder.Take(Block(T0 + s, 10, 10, 1, [amplitude](int, int j) {
            return j % 2 == 0 ? amplitude : -amplitude;
        }));
    }
    EXPECT_EQ(helicorder.MedianSpan(0, TSeries::Raw, Slot(T0), Slot(T0 + 100)), 200);
    EXPECT_EQ(helicorder.MedianSpan(0, TSeries::Raw, Slot(T0 + 20), Slot(T0 + 50)), 200000);
    EXPECT_EQ(helicorder.MedianSpan(1, TSeries::Raw, Slot(T0), Slot(T0 + 100)), 0);
    EXPECT_EQ(helicorder.MedianSpan(0, TSeries::Raw, Slot(T0 + 200), Slot(T0 + 300)), 0);

    const std::pair<double, double> scales[] = {
        {200, 1024}, {150, 512}, {0, 8388608}, {1, 16}, {1e7, 8388608}, {3e5, 1048576},
    };
    for (const auto& [span, halfRow] : scales) {
        EXPECT_EQ(HelicorderHalfRowCounts(span), halfRow) << span;
    }
}
