// The Spectrogram page in the main window, fed the simulator's own sines block by block: the
// picture read back shows a bright row at each channel's frequency and a broadband stripe
// where an impulse was planted, the mouse reads them out, the columns go on while the page is
// hidden and are drawn when it is shown, and a rate change starts the picture afresh.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QTabWidget>
#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

#include "main/time_frequency_page.h"
#include "sim/signals.h"
#include "support/blocks.h"
#include "support/window_fixture.h"

namespace {

constexpr double BinWidth = 100.0 / 256;

void MoveMouse(QWidget* widget, QPoint point) {
    QMouseEvent move(QEvent::MouseMove, QPointF(point), QPointF(widget->mapToGlobal(point)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

class SpectrogramPageTest : public TWindowTest {
  protected:
    // One second of the simulator's sine signal on three channels (channel c at c + 1 Hz,
    // 0.04 + 0.01 c of full scale, on a small offset); `impulse` adds half of full scale to
    // one sample of channel 1.
    void Block(int rate = 100, bool impulse = false) {
        std::array<std::vector<int32_t>, 3> counts;
        TSignalParams params;
        params.Rate = rate;
        for (int c = 0; c < 3; ++c) {
            generator_.Generate(c, rate, params, counts[static_cast<size_t>(c)]);
        }
        if (impulse) {
            counts[0][50] += 4194304;
        }
        form_->ProcessBlock(
            MakeBlock({.Channels = 3,
                       .Rate = rate,
                       .BlockCount = ++blockCount_,
                       .Counts = [&counts](int c, int j) {
                           return counts[static_cast<size_t>(c)][static_cast<size_t>(j)];
                       }}));
    }

    // The colour scale entry of an image's pixel; -1 for one that is not on the scale.
    int Index(const QImage& image, int x, int y) const {
        const auto found = scale_.find(image.pixel(x, y));
        return found == scale_.end() ? -1 : found->second;
    }
    // The row of a pixel column with the highest scale entry.
    int BrightestRow(const QImage& image, int x) const {
        int best = 0;
        for (int y = 1; y < image.height(); ++y) {
            best = Index(image, x, y) > Index(image, x, best) ? y : best;
        }
        return best;
    }
    // The share of a pixel column's rows at or above entry `index`.
    double BrightShare(const QImage& image, int x, int index) const {
        int bright = 0;
        for (int y = 0; y < image.height(); ++y) {
            bright += Index(image, x, y) >= index ? 1 : 0;
        }
        return static_cast<double>(bright) / image.height();
    }

    TSignalGenerator generator_{TSignalKind::Sine, 1};
    uint32_t blockCount_ = 0;
    std::unordered_map<QRgb, int> scale_ = [] {
        std::unordered_map<QRgb, int> scale;
        for (int i = 0; i < 256; ++i) {
            scale.emplace(SpectrogramColours()[static_cast<size_t>(i)], i);
        }
        return scale;
    }();
};

}  // namespace

TEST_F(SpectrogramPageTest, ShowsTheSimulatorsSinesAsLinesAndAnImpulseAsAStripe) {
    // 256 points at 100 samples per second (a column every 1.28 s), a minute across, the
    // frequency axis logarithmic so that 1, 2 and 3 Hz lie well apart.
    WriteSettings("[Spectrogram]\nPoints=256\nLogFrequency=1\nMinutes=1\n");
    OpenSilent();
    TTimeFrequencyPage* page = form_->SpectrogramPage();
    TTimeFrequencyView* view = page->View();
    form_->FormKeyDown(Qt::Key_P, Qt::NoModifier);
    ASSERT_EQ(form_->PageControl()->currentWidget(), page);
    QApplication::processEvents();

    for (int b = 0; b < 30; ++b) {
        Block();
    }
    // 3000 samples: (3000 - 256) / 128 + 1 columns per channel.
    ASSERT_EQ(page->Spectrogram().Columns(0).Total(), 22);
    ASSERT_EQ(view->Bands().size(), 3u);
    const TSpectrogramRaster& raster = page->Raster();
    const int width = raster.Width();
    ASSERT_GT(width, 200);
    ASSERT_GT(raster.Height(), 60);
    for (int c = 0; c < 3; ++c) {
        const QImage& image = view->Image(c);
        ASSERT_EQ(image.width(), width);
        const int lineRow = static_cast<int>(*raster.FrequencyY(c + 1));
        // The newest columns: the line is their brightest row, near the top of the scale;
        // eight times the frequency up, the window's skirt lies far below it.
        // (Rows thinner than a bin show the nearest bin: the line is as wide as its bin.)
        for (const int x : {width - 1, width - 20, width - 100}) {
            const int brightest = BrightestRow(image, x);
            EXPECT_NEAR(raster.RowFrequency(brightest), c + 1, BinWidth)
                << "channel " << c << " x " << x;
            EXPECT_EQ(Index(image, x, lineRow), Index(image, x, brightest))
                << "channel " << c << " x " << x;
            EXPECT_GE(Index(image, x, lineRow), 230) << "channel " << c << " x " << x;
            const int higher = static_cast<int>(*raster.FrequencyY(8 * (c + 1)));
            EXPECT_LT(Index(image, x, higher), 150) << "channel " << c << " x " << x;
        }
        // Left of the first column the band is still empty (the page's background).
        EXPECT_EQ(Index(image, 0, lineRow), -1);
        EXPECT_EQ(image.pixel(0, lineRow), QColor(Qt::black).rgb());
    }
    // The readout under the mouse on channel 1's line at the right edge: 1 Hz at the sine's
    // density, 10 log10(0.04^2 x 256 / (3 x 100)) = -28.65 dBFS/Hz less what the Hanning
    // window loses off the bin.
    const QRect plot = view->Bands()[0].Plot;
    MoveMouse(view, QPoint(plot.right(), plot.top() + static_cast<int>(*raster.FrequencyY(1))));
    const QStringList fields = page->Readout().split(QStringLiteral("  "));
    ASSERT_EQ(fields.size(), 4) << page->Readout().toStdString();
    EXPECT_EQ(fields[0], QStringLiteral("Channel 1"));
    EXPECT_TRUE(fields[1].endsWith(QStringLiteral(" UTC"))) << fields[1].toStdString();
    const QLocale locale = QLocale::system();
    const double hz = locale.toDouble(fields[2].chopped(3));
    ASSERT_TRUE(fields[3].endsWith(QStringLiteral(" dBFS/Hz")));
    const double db = locale.toDouble(fields[3].chopped(8));
    EXPECT_NEAR(hz, 1.0, 0.1) << page->Readout().toStdString();
    EXPECT_GE(db, -30.1) << page->Readout().toStdString();
    EXPECT_LE(db, -28.6) << page->Readout().toStdString();

    // An impulse in block 31 (sample 3050 of channel 1) shows across every frequency of
    // channel 1's band, once its columns are made, and nowhere in the other bands.
    Block(100, true);
    for (int b = 0; b < 3; ++b) {
        Block();
    }
    const QImage& first = view->Image(0);
    int stripe = -1;
    for (int x = width - 1; x >= 0 && stripe < 0; --x) {
        stripe = BrightShare(first, x, 180) > 0.9 ? x : -1;
    }
    ASSERT_GE(stripe, 0) << "no broadband stripe";
    // Column 23 (samples 2944 ... 3199) holds the impulse near its middle; its pixels are the
    // stripe.
    const TSpectrogramRaster::TRange columns =
        raster.PixelColumns(page->RightPixel(0) - (width - 1 - stripe));
    EXPECT_LE(columns.First, 23);
    EXPECT_GE(columns.Last, 22);
    EXPECT_LT(BrightShare(first, width / 4, 180), 0.5) << "before the first column";
    EXPECT_LT(BrightShare(first, stripe - 60, 180), 0.5) << "before the impulse";
    EXPECT_LT(BrightShare(view->Image(1), stripe, 180), 0.5) << "channel 2";

    // Hidden, the page keeps making columns but draws nothing; shown, it catches up.
    form_->FormKeyDown(Qt::Key_C, Qt::NoModifier);
    QApplication::processEvents();
    const QImage before = view->Image(0).copy();
    const int64_t total = page->Spectrogram().Columns(0).Total();
    for (int b = 0; b < 5; ++b) {
        Block();
    }
    EXPECT_GT(page->Spectrogram().Columns(0).Total(), total + 2);
    EXPECT_EQ(view->Image(0), before);
    form_->FormKeyDown(Qt::Key_P, Qt::NoModifier);
    QApplication::processEvents();
    EXPECT_NE(view->Image(0), before);
    EXPECT_EQ(page->RightPixel(0), raster.LastPixel(page->Spectrogram().Columns(0).Total()));
    EXPECT_NEAR(raster.RowFrequency(BrightestRow(view->Image(0), width - 1)), 1, BinWidth);

    // The time labels apart from each other and from "UTC" over spans of 1, 2 and 4 minutes
    // (X doubles the span); the frequency axis' "Hz" left of the strip, not under it.
    for (int span = 1; span <= 4; span *= 2) {
        const std::vector<QRect>& labels = page->TimeLabels();
        ASSERT_GE(labels.size(), 3u) << span;
        for (size_t i = 1; i < labels.size(); ++i) {
            EXPECT_LT(labels[i - 1].right(), labels[i].left()) << span << " label " << i;
        }
        EXPECT_GE(labels.front().left(), 0);
        EXPECT_LE(labels.back().right(), view->TimeStrip().width());
        const QPoint strip = view->TimeStripOrigin();
        EXPECT_GT(strip.x(), QFontMetrics(view->font()).horizontalAdvance(QStringLiteral("Hz")));
        EXPECT_EQ(strip.x(), view->Bands()[0].Plot.left());
        form_->FormKeyDown(Qt::Key_X, Qt::NoModifier);
        QApplication::processEvents();
        ASSERT_EQ(form_->Model().Settings().SpectrogramMinutes, 2 * span);
    }

    // Another rate: the columns start again and the bands are empty.
    Block(50);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(page->Spectrogram().Columns(c).Total(), 0);
        const QImage& image = view->Image(c);
        EXPECT_EQ(image.pixel(image.width() - 1, image.height() / 2), QColor(Qt::black).rgb());
    }
    EXPECT_EQ(page->Spectrogram().Rate(), 50);
    EXPECT_TRUE(page->Readout().isEmpty());
}
