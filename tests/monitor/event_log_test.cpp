// The window's event log: events numbered from 1 on across new settings, the running one kept
// up to the newest block, refused settings leaving the detector as it was, the ratios of the
// channels taking part, and no more than MaxEvents kept.
#include "monitor/event_log.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int64_t T0 = 1767225600;  // 2026-01-01T00:00:00Z
constexpr int Rate = 20;

// One second of two channels at 20 samples per second, 4-byte samples: an alternating
// +-100 counts, and +-20000 on channel 1 while `loud`.
TRecordBlock Second(int64_t s, bool loud) {
    TRecordBlock block;
    block.Time = T0 + s;
    block.ChannelCount = 2;
    block.SampleRate = Rate;
    block.BytesPerSample = 4;
    block.SamplesPerBlock = Rate;
    for (int c = 0; c < 2; ++c) {
        for (int j = 0; j < Rate; ++j) {
            const int32_t size = loud && c == 0 ? 20000 : 100;
            block.Samples[static_cast<size_t>(c)].push_back(j % 2 == 0 ? size : -size);
        }
    }
    return block;
}

TDetectorSettings Quick() {
    TDetectorSettings s;
    s.BandpassOn = false;
    s.StaSeconds = 0.5;
    s.LtaSeconds = 4;
    s.Channels = 0x3;
    s.Coincidence = 1;
    s.HoldSeconds = 0;
    return s;
}

}  // namespace

TEST(EventLog, NumbersKeepsTheRunningEventAndRefusesBadSettings) {
    TEventLog log(Quick());
    int64_t s = 0;
    for (; s < 10; ++s) {
        EXPECT_FALSE(log.Take(Second(s, false), 0));
    }
    ASSERT_TRUE(log.Ratio(0).has_value());
    ASSERT_TRUE(log.Ratio(1).has_value());
    EXPECT_FALSE(log.Ratio(2).has_value());  // not carried
    EXPECT_TRUE(log.Ratio(0)->Ready);
    EXPECT_NEAR(log.Ratio(0)->Ratio, 1, 0.05);

    EXPECT_TRUE(log.Take(Second(s++, true), 0));  // starts
    ASSERT_EQ(log.Events().size(), 1u);
    EXPECT_TRUE(log.Running());
    EXPECT_EQ(log.Events().back().Id, 1u);
    EXPECT_EQ(log.Events().back().Start, (TSampleTime{T0 + 10, 0}));
    EXPECT_EQ(log.Events().back().End, (TSampleTime{T0 + 11, 0}));  // up to the newest sample
    EXPECT_TRUE(log.Ratio(0)->Triggered);
    EXPECT_FALSE(log.Take(Second(s++, true), 0));
    EXPECT_EQ(log.Events().back().End, (TSampleTime{T0 + 12, 0}));
    while (log.Running() && s < 40) {
        log.Take(Second(s++, false), 0);
    }
    ASSERT_FALSE(log.Running());
    EXPECT_FALSE(log.Events().back().Cut);
    EXPECT_GT(log.Events().back().Seconds(), 2);

    // Refused: nothing changes, the running detector goes on.
    TDetectorSettings bad = Quick();
    bad.Coincidence = 3;
    EXPECT_FALSE(log.SetSettings(bad).Ok());
    EXPECT_EQ(log.Settings().Coincidence, 1);

    // New settings: the detector starts afresh (its LTA fills again), the events stay and the
    // numbering goes on.
    TDetectorSettings other = Quick();
    other.TriggerOn = 5;
    ASSERT_TRUE(log.SetSettings(other).Ok());
    EXPECT_FALSE(log.Ratio(0).has_value());
    for (int64_t end = s + 10; s < end; ++s) {
        log.Take(Second(s, false), 0);
    }
    log.Take(Second(s++, true), 0);
    ASSERT_EQ(log.Events().size(), 2u);
    EXPECT_EQ(log.Events().back().Id, 2u);
    EXPECT_EQ(log.Count(), 2u);
    // New settings while an event runs end it there, cut.
    ASSERT_TRUE(log.Running());
    ASSERT_TRUE(log.SetSettings(Quick()).Ok());
    EXPECT_FALSE(log.Running());
    EXPECT_TRUE(log.Events().back().Cut);
    EXPECT_EQ(log.Events().back().End, (TSampleTime{T0 + s, 0}));
    log.Clear();
    EXPECT_TRUE(log.Events().empty());
    EXPECT_EQ(log.Count(), 2u);
}

TEST(EventLog, KeepsTheNewestThousand) {
    TEventLog log(Quick());
    int64_t s = 0;
    // An event every 12 seconds: one loud second after eleven quiet ones.
    while (log.Count() < TEventLog::MaxEvents + 5 && s < 20000) {
        log.Take(Second(s, s % 12 == 11), 0);
        ++s;
    }
    ASSERT_EQ(log.Count(), TEventLog::MaxEvents + 5);
    ASSERT_EQ(log.Events().size(), TEventLog::MaxEvents);
    EXPECT_EQ(log.Events().front().Id, 6u);
    EXPECT_EQ(log.Events().back().Id, TEventLog::MaxEvents + 5);
    for (size_t i = 1; i < log.Events().size(); ++i) {
        ASSERT_LT(log.Events()[i - 1].Start, log.Events()[i].Start);
    }
}

// The calibrations the window sends: the events while the unit calibrates and for the LTA's
// length (4 s) after are marked, also after new settings; the ones after that are not.
TEST(EventLog, EventsWhileTheUnitCalibratesAreMarked) {
    TEventLog log(Quick());
    int64_t s = 0;
    const auto quiet = [&](int seconds) {
        for (int64_t end = s + seconds; s < end; ++s) {
            log.Take(Second(s, false), 0);
        }
    };
    const auto loud = [&] {
        log.Take(Second(s++, true), 0);
        while (log.Running() && s < 1000) {
            log.Take(Second(s++, false), 0);
        }
    };
    quiet(10);
    loud();
    log.SetCalibration(1);  // +5.0v DC
    quiet(10);
    loud();
    ASSERT_TRUE(log.SetSettings(Quick()).Ok());  // still calibrating
    quiet(10);
    loud();
    quiet(10);
    log.SetCalibration(0);
    quiet(3);  // within the LTA after
    loud();
    quiet(10);
    loud();
    std::vector<bool> marked;
    for (const TEvent& e : log.Events()) {
        marked.push_back(e.Calibration);
    }
    EXPECT_EQ(marked, (std::vector<bool>{false, true, true, true, false}));
}
