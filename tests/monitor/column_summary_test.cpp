// The per-column summary against drawing every segment of the trace, on random
// histories, band sizes, zooms, DC levels and start indices.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <random>

#include "monitor/column_summary.h"
#include "monitor/trace_scale.h"

namespace {

struct TSpan {
    int Top = INT_MAX;
    int Bottom = INT_MIN;
};

// The trace drawing, sample by sample from `first`: column x = X(j); a sample
// at x = 0 only moves the pen, any other draws a segment from the previous
// point. A segment covers every row between its end rows in the columns of
// both ends. Returns the covered rows per column.
std::vector<TSpan> DrawEverySegment(const TChannelHistory& history, size_t first,
                                    const TTraceScale& scale, int width) {
    std::vector<TSpan> spans(width);
    auto cover = [&](int64_t x, int y0, int y1) {
        if (x < width) {
            spans[x].Top = std::min({spans[x].Top, y0, y1});
            spans[x].Bottom = std::max({spans[x].Bottom, y0, y1});
        }
    };
    int64_t penX = 0;
    int penY = 0;
    for (size_t j = first; j < history.Size(); ++j) {
        const int64_t x = scale.X(static_cast<int64_t>(j));
        const int y = scale.Y(history[j]);
        if (x >= 1 && j > first) {
            EXPECT_LE(x - penX, 1) << "samples more than one column apart";
            cover(penX, penY, y);
            cover(x, penY, y);
        }
        penX = x >= 1 ? x : 0;
        penY = y;
    }
    return spans;
}

TEST(ColumnSummary, SameRowsAsDrawingEverySegment) {
    std::mt19937_64 random(2024);
    std::vector<TMinMax> columns;
    int compared = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int width = 1 + static_cast<int>(random() % 900);
        const int height = 1 + static_cast<int>(random() % 400);
        // Mostly many samples per column, sometimes exactly one.
        const int64_t span =
            trial % 10 == 0 ? width : width + static_cast<int64_t>(random() % (width * 60));
        const bool longHistory = trial % 50 == 0;
        const size_t size = longHistory ? 150000 + random() % 100000
                                        : 1 + random() % static_cast<size_t>(span + span / 4 + 1);
        const size_t first = trial % 2 ? 0 : random() % size;
        const int32_t gain = trial % 3 ? 1 : 10;
        const double zoom = std::ldexp(1.0, static_cast<int>(random() % 24));
        const double dcRef = static_cast<double>(static_cast<int64_t>(random() % 20001) - 10000);
        const TTraceScale scale = MakeTraceScale(width, height, span, gain, zoom, dcRef);

        // A walk whose step size makes the trace anything from flat to clipped.
        TChannelHistory history;
        const int shift = static_cast<int>(random() % 24);
        int64_t level = 0;
        for (size_t j = 0; j < size; ++j) {
            level += (static_cast<int64_t>(random() % 2001) - 1000) << shift;
            level = std::clamp<int64_t>(level, INT32_MIN, INT32_MAX);
            history.Append(random() % 500 == 0 ? static_cast<int32_t>(random())
                                               : static_cast<int32_t>(level));
        }

        SummarizeColumns(history, first, scale.XScale, width, columns);
        ASSERT_EQ(columns.size(), static_cast<size_t>(width));
        const auto spans = DrawEverySegment(history, first, scale, width);
        for (int c = 0; c < width; ++c) {
            const bool drawn = spans[c].Top <= spans[c].Bottom;
            ASSERT_EQ(!columns[c].Empty(), drawn) << "trial " << trial << " column " << c;
            if (drawn) {
                ASSERT_EQ(scale.Y(columns[c].Max), spans[c].Top)
                    << "trial " << trial << " column " << c;
                ASSERT_EQ(scale.Y(columns[c].Min), spans[c].Bottom)
                    << "trial " << trial << " column " << c;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 10000);
}

TEST(ColumnSummary, DegenerateScales) {
    TChannelHistory history;
    for (int j = 0; j < 100; ++j) {
        history.Append(j);
    }
    std::vector<TMinMax> columns;
    // No span: sample 0 alone in column 0, the rest infinitely far right.
    SummarizeColumns(history, 0, std::numeric_limits<double>::infinity(), 800, columns);
    EXPECT_EQ(columns[0].Min, 0);
    EXPECT_EQ(columns[0].Max, 1);
    EXPECT_TRUE(columns[1].Empty());
    SummarizeColumns(history, 0, 0, 800, columns);
    EXPECT_TRUE(std::all_of(columns.begin(), columns.end(), [](TMinMax m) { return m.Empty(); }));

    // The largest zoom puts 1 microvolt at the edge; nothing overflows.
    const TTraceScale scale = MakeTraceScale(800, 101, 3000, 1, 8388608, 0);
    EXPECT_EQ(scale.Y(INT32_MAX), 0);
    EXPECT_EQ(scale.Y(INT32_MIN), 100);
    EXPECT_EQ(scale.Y(0), 50);
    EXPECT_EQ(scale.X(2999), 799);
}

}  // namespace
