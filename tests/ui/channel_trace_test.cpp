// One channel's trace drawn into a small band, checked pixel by pixel, and the
// redraw by columns against drawing every segment.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <climits>
#include <random>

#include "main/channel_trace.h"
#include "main/graph_resources.h"
#include "monitor/channel_history.h"
#include "monitor/settings.h"

namespace {

constexpr int W = 20;
constexpr int H = 11;  // centre row 5
const QColor Background(32, 32, 32);
const QColor Trace(0, 255, 0);
const QColor First(255, 0, 0);
const QColor Frame(200, 200, 200);
const QColor Centre(192, 192, 192);

TSettings Colours() {
    TSettings settings;
    settings.DataBgdCol = 0x202020;
    settings.DataFgdCol = 0x00FF00;
    settings.DataFirstSampleCol = 0x0000FF;
    return settings;
}

// Range +-100 uV at gain 1: a count is 0.055 rows, so 0 counts lie on row 5,
// 50 on row 2, -50 on row 7, and 100 or more (-100 or less) on row 0 (10).
TTraceDraw Draw(size_t start, bool newSweep, int64_t span = W) {
    TTraceDraw draw;
    draw.Start = start;
    draw.NewSweep = newSweep;
    draw.Span = span;
    draw.Zoom = 8388608.0 / 100;
    return draw;
}

void Append(TChannelHistory& history, std::initializer_list<int32_t> counts) {
    for (int32_t count : counts) {
        history.Append(count * 256);
    }
}

class ChannelTraceTest : public ::testing::Test {
  protected:
    QColor At(int x, int y) const { return image_.pixelColor(x, y); }
    // The rows of column x in `colour`.
    std::vector<int> Rows(int x, const QColor& colour) const {
        std::vector<int> rows;
        for (int y = 0; y < H; ++y) {
            if (At(x, y) == colour) {
                rows.push_back(y);
            }
        }
        return rows;
    }

    TGraphResources resources_{Colours()};
    QImage image_{W, H, QImage::Format_RGB32};
    TChannelHistory history_;
    TTraceSweep sweep_;
};

}  // namespace

TEST_F(ChannelTraceTest, ASweepBeginsWithBackgroundTopLineAndDottedCentreLine) {
    image_.fill(Qt::black);
    DrawChannelTrace(image_, resources_, history_, Draw(0, true), sweep_);
    int dots = 0;
    for (int x = 0; x < W; ++x) {
        EXPECT_EQ(At(x, 0), Frame) << x;
        for (int y = 1; y < H; ++y) {
            if (y == H / 2 && At(x, y) == Centre) {
                ++dots;
            } else {
                EXPECT_EQ(At(x, y), Background) << x << "," << y;
            }
        }
    }
    EXPECT_GE(dots, W / 4);
    EXPECT_LT(dots, W) << "dotted: the background shows between the dots";
    EXPECT_EQ(sweep_.End, QPoint(0, H / 2));
}

TEST_F(ChannelTraceTest, SamplesStepAcrossTheBandClampedAtBothEdges) {
    // One sample per column. Column 0 only moves the pen.
    Append(history_, {0, 50, 50, 1000, 1000, -50, -1000000, -1000000, 0, 0});
    DrawChannelTrace(image_, resources_, history_, Draw(0, true), sweep_);
    EXPECT_EQ(Rows(0, Trace), (std::vector<int>{2, 3, 4, 5})) << "the segment leaving column 0";
    EXPECT_EQ(Rows(2, Trace), (std::vector<int>{0, 1, 2})) << "from row 2 up to the clamp";
    EXPECT_EQ(Rows(3, Trace), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Rows(4, Trace).size(), 8u) << "rows 0 to 7, across the centre";
    EXPECT_EQ(Rows(6, Trace), (std::vector<int>{7, 8, 9, 10})) << "clamped to the last row";
    EXPECT_EQ(Rows(7, Trace), (std::vector<int>{5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(Rows(9, Trace), (std::vector<int>{5}));
    EXPECT_TRUE(Rows(10, Trace).empty());
    EXPECT_EQ(At(10, 1), Background);
    EXPECT_EQ(sweep_.End, QPoint(9, 5));

    // The next block: the segment from the last sample into its first is in
    // the first-sample colour, the rest in the trace colour drawn after it.
    Append(history_, {50, 50, -50});
    DrawChannelTrace(image_, resources_, history_, Draw(10, false), sweep_);
    EXPECT_EQ(Rows(9, First), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_EQ(Rows(10, First), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(Rows(10, Trace), (std::vector<int>{2}));
    EXPECT_EQ(Rows(11, Trace), (std::vector<int>{2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(Rows(12, Trace), (std::vector<int>{2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(sweep_.End, QPoint(12, 7));
}

TEST_F(ChannelTraceTest, FewerSamplesThanColumnsAreJoinedByLines) {
    // Span 10 on 20 columns: sample j at column 2j.
    Append(history_, {0, 0, 0});
    DrawChannelTrace(image_, resources_, history_, Draw(0, true, 10), sweep_);
    for (int x = 0; x <= 4; ++x) {
        EXPECT_EQ(Rows(x, Trace), (std::vector<int>{5})) << x;
    }
    EXPECT_EQ(sweep_.End, QPoint(4, 5));
    Append(history_, {-1000, -1000});
    DrawChannelTrace(image_, resources_, history_, Draw(3, false, 10), sweep_);
    // A line from (4, 5) to (6, 10) in the first-sample colour, then the
    // trace from its end on.
    EXPECT_EQ(At(4, 5), First);
    EXPECT_FALSE(Rows(5, First).empty());
    EXPECT_EQ(At(6, 10), Trace);
    EXPECT_EQ(Rows(7, Trace), (std::vector<int>{10}));
    EXPECT_EQ(Rows(8, Trace), (std::vector<int>{10}));
    EXPECT_TRUE(Rows(9, Trace).empty());
}

TEST_F(ChannelTraceTest, TheSweepsDcLevelIsFixedWhenItBegins) {
    // 1000 counts less a DC level of 1000 uV: on the centre line.
    Append(history_, {1000, 1000, 1000});
    TTraceDraw draw = Draw(0, true);
    draw.SweepDcRef = 1000;
    DrawChannelTrace(image_, resources_, history_, draw, sweep_);
    EXPECT_EQ(Rows(1, Trace), (std::vector<int>{5}));
    EXPECT_EQ(sweep_.DcRef, 1000);
    // Within the sweep a changed level is not taken.
    Append(history_, {1050, 1050});
    draw = Draw(3, false);
    draw.SweepDcRef = 0;
    DrawChannelTrace(image_, resources_, history_, draw, sweep_);
    EXPECT_EQ(Rows(4, Trace), (std::vector<int>{2}));
    // Without DC removal the same samples lie beyond the top edge.
    DrawChannelTrace(image_, resources_, history_, Draw(0, true), sweep_);
    EXPECT_EQ(Rows(1, Trace), (std::vector<int>{0}));
}

TEST_F(ChannelTraceTest, OverlayKeepsTheOldTraceAndDrawsTheLinesAgain) {
    Append(history_, {50, 50, 50, 50});
    DrawChannelTrace(image_, resources_, history_, Draw(0, true), sweep_);
    ASSERT_EQ(At(2, 2), Trace);
    TChannelHistory next;
    Append(next, {-50, -50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    TTraceDraw draw = Draw(0, true);
    draw.Overlay = true;
    DrawChannelTrace(image_, resources_, next, draw, sweep_);
    EXPECT_EQ(At(2, 2), Trace) << "the old sweep stays";
    EXPECT_EQ(At(1, 7), Trace) << "the new one is drawn over it";
    EXPECT_EQ(At(15, 0), Frame);
    EXPECT_EQ(Rows(15, Trace), (std::vector<int>{5})) << "the new trace on the centre line";
    DrawChannelTrace(image_, resources_, next, Draw(0, true), sweep_);
    EXPECT_EQ(At(2, 2), Background) << "without overlay a sweep erases the band";
}

// Drawn block by block, the trace is the same picture as one full redraw: the
// redraw goes by columns from per-column minima and maxima, the blocks sample
// by sample (with lines instead where samples are sparser than columns). The
// first-sample colour is the trace colour here, so the boundaries do not show.
TEST(ChannelTraceRedraw, ByColumnsGivesThePixelsOfEverySegment) {
    TSettings settings = Colours();
    settings.DataFirstSampleCol = settings.DataFgdCol;
    const TGraphResources resources(settings);
    std::mt19937_64 random(7);
    int sparse = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int width = 1 + static_cast<int>(random() % 300);
        const int height = 1 + static_cast<int>(random() % 160);
        // Mostly many samples per column; sometimes one, sometimes fewer.
        int64_t span = width + static_cast<int64_t>(random() % (width * 40 + 1));
        if (trial % 7 == 0) {
            span = width;
        } else if (trial % 5 == 0) {
            span = 1 + static_cast<int64_t>(random() % width);
            ++sparse;
        }
        // Up to a little more than the span: samples past the right edge too.
        const size_t size = 1 + random() % static_cast<size_t>(span + span / 5 + 2);
        TTraceDraw draw;
        draw.Span = span;
        draw.GainFactor = trial % 3 ? 1 : 10;
        draw.Zoom = std::ldexp(1.0, static_cast<int>(random() % 24));
        draw.SweepDcRef = static_cast<double>(static_cast<int64_t>(random() % 20001) - 10000);

        TChannelHistory history;
        const int shift = static_cast<int>(random() % 22);
        int64_t level = 0;
        for (size_t j = 0; j < size; ++j) {
            level += (static_cast<int64_t>(random() % 2001) - 1000) << shift;
            level = std::clamp<int64_t>(level, INT32_MIN / 2, INT32_MAX / 2);
            history.Append(static_cast<int32_t>(level));
        }

        // Block by block, the first block a single sample (it only moves the pen).
        QImage blocks(width, height, QImage::Format_RGB32);
        TTraceSweep blocksSweep;
        TChannelHistory growing;
        growing.Append(history[0]);
        draw.Start = 0;
        draw.NewSweep = true;
        DrawChannelTrace(blocks, resources, growing, draw, blocksSweep);
        draw.NewSweep = false;
        while (growing.Size() < size) {
            draw.Start = growing.Size();
            const size_t block = 1 + random() % 300;
            for (size_t j = 0; j < block && growing.Size() < size; ++j) {
                growing.Append(history[growing.Size()]);
            }
            DrawChannelTrace(blocks, resources, growing, draw, blocksSweep);
        }

        QImage redraw(width, height, QImage::Format_RGB32);
        TTraceSweep redrawSweep;
        draw.Start = 0;
        draw.NewSweep = true;
        DrawChannelTrace(redraw, resources, history, draw, redrawSweep);

        ASSERT_EQ(blocks, redraw) << "trial " << trial << ": " << width << "x" << height
                                  << ", span " << span << ", " << size << " samples";
        EXPECT_EQ(blocksSweep.End, redrawSweep.End) << trial;
    }
    EXPECT_GT(sparse, 20);
}
