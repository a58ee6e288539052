// The archive's spans: records join the span they follow within half a sample period at the
// same rate; a gap, an overlap and a new rate begin spans of their own; a record seen twice
// counts once; a removed day file takes its day out of the picture.
#include "recording/archive_spans.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

const TStreamKey Key{"XX", "STA", "", "HHZ"};

// Seconds as microseconds.
constexpr int64_t S(double seconds) {
    return int64_t(seconds * 1e6);
}

std::vector<TDataSpan> SpansOf(const TArchiveSpans& spans) {
    const auto all = spans.Select([](const TStreamKey&) { return true; }, INT64_MIN, INT64_MAX);
    return all.empty() ? std::vector<TDataSpan>{} : all.front().Spans;
}

}  // namespace

TEST(ArchiveSpans, RecordsMakeTheSpansTheRuleSays) {
    struct TCase {
        const char* Name;
        std::vector<TDataSpan> Records;  // in the order written
        std::vector<TDataSpan> Spans;
    };
    // At 100 samples/s half a sample is 5 ms.
    const TCase cases[] = {
        {"one after the other", {{S(0), S(10), 100}, {S(10), S(20), 100}}, {{S(0), S(20), 100}}},
        {"late by less than half a sample",
         {{S(0), S(10), 100}, {S(10.004), S(20), 100}},
         {{S(0), S(20), 100}}},
        {"early by less than half a sample",
         {{S(0), S(10), 100}, {S(9.996), S(20), 100}},
         {{S(0), S(20), 100}}},
        {"late by more than half a sample",
         {{S(0), S(10), 100}, {S(10.006), S(20), 100}},
         {{S(0), S(10), 100}, {S(10.006), S(20), 100}}},
        {"a gap",
         {{S(0), S(10), 100}, {S(30), S(40), 100}},
         {{S(0), S(10), 100}, {S(30), S(40), 100}}},
        {"an overlap",
         {{S(0), S(10), 100}, {S(8), S(18), 100}},
         {{S(0), S(10), 100}, {S(8), S(18), 100}}},
        {"a rate change",
         {{S(0), S(10), 100}, {S(10), S(20), 50}},
         {{S(0), S(10), 100}, {S(10), S(20), 50}}},
        {"a record seen twice",
         {{S(0), S(10), 100}, {S(10), S(20), 100}, {S(0), S(10), 100}},
         {{S(0), S(20), 100}}},
        {"a hole filled later",
         {{S(0), S(10), 100}, {S(20), S(30), 100}, {S(10), S(20), 100}},
         {{S(0), S(30), 100}}},
        {"a record just before a span",
         {{S(20), S(30), 100}, {S(10), S(20), 100}},
         {{S(10), S(30), 100}}},
        {"older records after newer ones",
         {{S(50), S(60), 100}, {S(0), S(10), 100}, {S(10), S(20), 100}},
         {{S(0), S(20), 100}, {S(50), S(60), 100}}},
    };
    for (const TCase& c : cases) {
        TArchiveSpans spans;
        for (const TDataSpan& record : c.Records) {
            spans.Add(Key, record.Start, record.End, record.Rate, 1);
        }
        EXPECT_EQ(SpansOf(spans), c.Spans) << c.Name;
        EXPECT_EQ(spans.SpanCount(), c.Spans.size()) << c.Name;
    }
}

TEST(ArchiveSpans, ARemovedDayFileTakesItsDayOut) {
    // 2026-12-07 is day 341; one span from the 6th to the 8th, another stream untouched.
    const int64_t day341 = S(1796601600);
    TArchiveSpans spans;
    spans.Add(Key, day341 - S(3600), day341 + S(86400 + 3600), 100, 1);
    const TStreamKey other{"XX", "STA", "00", "HHZ"};
    spans.Add(other, day341, day341 + S(60), 100, 1);
    spans.RemoveDayFile("/archive/2026/XX/STA/HHZ.D/XX.STA..HHZ.D.2026.341");
    EXPECT_EQ(SpansOf(spans),
              (std::vector<TDataSpan>{{day341 - S(3600), day341, 100},
                                      {day341 + S(86400), day341 + S(90000), 100}}));
    EXPECT_EQ(spans.SpanCount(), 3u);
    // Not a day file: nothing changes.
    spans.RemoveDayFile("/archive/2026/XX/STA/HHZ.D/notes.txt");
    EXPECT_EQ(spans.SpanCount(), 3u);
    // The other stream's only day: the stream goes.
    spans.RemoveDayFile("XX.STA.00.HHZ.D.2026.341");
    EXPECT_EQ(
        spans.Select([&](const TStreamKey& k) { return k == other; }, INT64_MIN, INT64_MAX).size(),
        0u);
}

TEST(ArchiveSpans, SelectCutsSpansToTheWindow) {
    TArchiveSpans spans;
    spans.Add(Key, S(0), S(100), 100, 7);
    spans.Add(Key, S(200), S(300), 100, 9);
    const auto chosen = spans.Select([](const TStreamKey&) { return true; }, S(50), S(250));
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0].Spans,
              (std::vector<TDataSpan>{{S(50), S(100), 100}, {S(200), S(250), 100}}));
    EXPECT_EQ(chosen[0].Updated, 9);
    EXPECT_TRUE(spans.Select([](const TStreamKey&) { return true; }, S(100), S(200)).empty());
}
