// The Events and Helicorder pages in the main window, fed blocks of the simulator's noise with
// three of its synthetic earthquakes planted: the Events page lists exactly those three, each
// starting within the STA of its onset, and its STA/LTA bars carry the trigger's on and off
// marks; the Helicorder's automatic scale makes the noise a quarter of a row; its picture,
// drawn block by block while it is shown, is the picture drawn whole, and shows each event
// shaded and with a large trace in the row and columns of its time and quiet elsewhere; a
// double click on an event shows its channel with the event framed and opens it with its
// traces and trigger marks; Save Picture refuses a folder that does not exist and writes the
// day as a PNG.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QTabWidget>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <vector>

#include "main/event_dialog.h"
#include "main/events_page.h"
#include "main/graph_resources.h"
#include "main/helicorder_page.h"
#include "sim/event_signal.h"
#include "sim/signals.h"
#include "support/blocks.h"
#include "support/window_fixture.h"

namespace {

class EventPagesTest : public TWindowTest {
  protected:
    // One block per second of three channels of noise on an offset, with the events added.
    void Feed(int seconds) {
        TSignalGenerator noise(TSignalKind::Noise, 11);
        TSignalParams params;
        params.Rate = 100;
        params.Offset = 20000;
        for (int second = 0; second < seconds; ++second) {
            std::vector<int32_t> counts[6];
            for (int c = 0; c < 3; ++c) {
                noise.Generate(c, 100, params, counts[c]);
            }
            AddEvents(planted_, 5, TEventFrame{static_cast<uint64_t>(second), 0, 100, 3, 3},
                      counts);
            for (size_t half = 0; half < 2; ++half) {
                const auto [low, high] = std::minmax_element(counts[0].begin() + 50 * half,
                                                             counts[0].begin() + 50 * half + 50);
                spans_.push_back(*high - *low);
            }
            form_->ProcessBlock(
                MakeBlock({.Channels = 3,
                           .Rate = 100,
                           .BlockCount = static_cast<uint32_t>(second + 1),
                           .Counts = [&counts](int c, int j) {
                               return counts[static_cast<size_t>(c)][static_cast<size_t>(j)];
                           }}));
            if (second == 0) {
                t0_ = form_->Model().BlockTime().Seconds;
            }
        }
    }

    static TSimEvent Quake(double at, double duration, double amplitude, uint32_t channels) {
        TSimEvent e;
        e.At = at;
        e.Duration = duration;
        e.Amplitude = amplitude;
        e.Channels = channels;
        return e;
    }

    // The other row's trace colour.
    static QRgb AltOf(QRgb trace) {
        return THelicorderPicture::AlternateTrace(QColor::fromRgb(trace)).rgb();
    }

    // The pixels of the picture's column `x` between rows `top` and `bottom` (exclusive) in
    // `colour`.
    static int Count(const QImage& image, int x, int top, int bottom, QRgb colour) {
        int count = 0;
        for (int y = std::max(top, 0); y < std::min(bottom, image.height()); ++y) {
            count += image.pixel(x, y) == colour ? 1 : 0;
        }
        return count;
    }

    std::vector<TSimEvent> planted_ = {Quake(100.25, 20, 4e6, 0x7), Quake(250, 30, 5e6, 0x7),
                                       Quake(420.5, 40, 7e6, 0x3)};
    int64_t t0_ = 0;
    std::vector<int32_t> spans_;  // channel 1's half-second spans, as fed
};

TEST_F(EventPagesTest, ThreePlantedEventsAreListedDrawnWhereTheyBelongAndSaved) {
    // An hour in rows of 15 minutes, channel 1 on the automatic scale: the noise a quarter of
    // a row, an event beyond the clip.
    WriteSettings(
        "[Helicorder]\nChannel=1\nHours=1\nRowMinutes=15\nGain=0\nBandpass=0\n"
        "[Events]\nTriggerOn=4\nTriggerOff=1.5\n");
    OpenSilent();
    form_->resize(1000, 700);
    form_->FormKeyDown(Qt::Key_L, Qt::NoModifier);
    THelicorderPage* heli = form_->HelicorderPage();
    ASSERT_EQ(form_->PageControl()->currentWidget(), heli);
    Feed(520);

    // Exactly the three, newest first, each starting within the STA after its P onset.
    const std::deque<TEvent>& events = form_->Model().Events().Events();
    ASSERT_EQ(events.size(), 3u);
    QTreeWidget* list = form_->EventsPage()->List();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const TEvent& e = events[i];
        const double delay = SecondsBetween(TSampleTime{t0_, 0}, e.Start) - planted_[i].At;
        EXPECT_GE(delay, 0);
        EXPECT_LE(delay, form_->Model().Settings().EventStaSeconds);
        EXPECT_FALSE(e.Cut);
        EXPECT_LT(SecondsBetween(TSampleTime{t0_, 0}, e.End),
                  planted_[i].At + planted_[i].Duration + 10);
        EXPECT_EQ(list->topLevelItem(static_cast<int>(2 - i))->text(0).toULongLong(), e.Id);
        EXPECT_EQ(list->topLevelItem(static_cast<int>(2 - i))->text(1).toStdString(),
                  FormatSampleTime(e.Start).replace(10, 1, " ").substr(0, 22));
    }
    EXPECT_FALSE(form_->Model().Events().Running());

    // The STA/LTA bars: the trigger-on mark at 4 (the bar's middle, its end at twice that),
    // the off mark at 1.5, both painted across the bar.
    form_->FormKeyDown(Qt::Key_E, Qt::NoModifier);
    TRatioBar* bar = form_->EventsPage()->RatioBar(0);
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->On(), 4);
    EXPECT_EQ(bar->Off(), 1.5);
    const QImage bars = bar->grab().toImage();
    const int onX = bar->XOf(4);
    const int offX = bar->XOf(1.5);
    EXPECT_NEAR(onX, bar->width() / 2, 2);
    EXPECT_NEAR(offX, bar->width() * 1.5 / 8, 2);
    for (const int y : {0, bar->height() / 2, bar->height() - 1}) {
        EXPECT_EQ(bars.pixelColor(onX, y), TRatioBar::OnColour()) << y;
        EXPECT_EQ(bars.pixelColor(offX, y), TRatioBar::OffColour()) << y;
    }
    form_->FormKeyDown(Qt::Key_L, Qt::NoModifier);

    // Drawn row by row as the blocks came, the picture is the one drawn whole.
    const QImage incremental = heli->View()->Image().copy();
    heli->ColoursChanged();
    heli->RefreshPage();
    const QImage& image = heli->View()->Image();
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(image == incremental) << "the newest rows drawn alone differ from the whole";

    const THelicorderDraw& draw = heli->LastDraw();
    ASSERT_EQ(draw.Rows.Count, 4);
    ASSERT_EQ(draw.Rows.RowSeconds, 900);
    const THelicorderPicture& picture = heli->Picture();
    const int height = image.height();
    const int plotWidth = image.width() - heli->PlotLeft();
    const double rowHeight =
        static_cast<double>(picture.RowsBottom() - picture.RowsTop()) / draw.Rows.Count;

    // The automatic scale: the median half-second span of channel 1 as fed an eighth of a
    // row, to a power of two.
    std::nth_element(spans_.begin(), spans_.begin() + spans_.size() / 2, spans_.end());
    const double span = spans_[spans_.size() / 2];
    EXPECT_GE(heli->HalfRowCounts(), 4 * span / std::sqrt(2.0));
    EXPECT_LE(heli->HalfRowCounts(), 4 * span * std::sqrt(2.0));
    EXPECT_EQ(std::exp2(std::round(std::log2(heli->HalfRowCounts()))), heli->HalfRowCounts());
    const QRgb trace = draw.Trace.rgb();
    const QRgb mark = draw.Mark.rgb();
    const auto column = [&](double utc) {
        const int row = draw.Rows.RowOf(static_cast<int64_t>(std::floor(utc)));
        const double into = (utc - static_cast<double>(draw.Rows.Start(row))) / 900;
        return std::pair<int, int>(row, heli->PlotLeft() + static_cast<int>(into * plotWidth));
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const double onset = static_cast<double>(t0_) + planted_[i].At;
        // Within the event: its row shaded in this column, the trace reaching rows away
        // (clipped at a row and a half either side).
        const auto [row, x] = column(onset + SMinusP(planted_[i]) + 1);
        ASSERT_GE(row, 0);
        ASSERT_LT(row, 4);
        const int top = picture.RowTop(row);
        const int bottom = picture.RowTop(row + 1);
        const QRgb rowTrace = THelicorderPicture::OddRow(draw.Rows, row)
                                  ? THelicorderPicture::AlternateTrace(draw.Trace).rgb()
                                  : trace;
        EXPECT_EQ(Count(image, x, top, top + 3, mark), 3);
        EXPECT_EQ(Count(image, x, bottom - 3, bottom, mark), 3);
        EXPECT_EQ(Count(image, x, top + 3, bottom - 3, rowTrace), bottom - top - 6);
        EXPECT_GE(
            Count(image, x, 0, height, rowTrace) + Count(image, x, 0, height, AltOf(rowTrace)),
            1.5 * rowHeight);
        // Half a minute before: no shade, a quiet trace about the row's centre line.
        const auto [quietRow, quietX] = column(onset - 30);
        const int quietTop = picture.RowTop(quietRow);
        const int quietBottom = picture.RowTop(quietRow + 1);
        const QRgb quietTrace = THelicorderPicture::OddRow(draw.Rows, quietRow)
                                    ? THelicorderPicture::AlternateTrace(draw.Trace).rgb()
                                    : trace;
        EXPECT_EQ(Count(image, quietX, quietTop, quietBottom, mark), 0);
        // The noise an eighth of a row, give or take the scale's power of two and what a
        // pixel's two slots add.
        const int quiet = Count(image, quietX, 0, height, quietTrace);
        EXPECT_GT(quiet, 0.06 * rowHeight);
        EXPECT_LT(quiet, 0.3 * rowHeight);
        const int centre = static_cast<int>(picture.RowsTop() + (quietRow + 0.5) * rowHeight);
        EXPECT_GT(Count(image, quietX, centre - 3, centre + 4, quietTrace), 0);
    }
    // Nothing drawn after the newest second.
    const auto [lastRow, lastX] = column(static_cast<double>(t0_) + 530);
    if (lastRow < draw.Rows.Count && lastX + 2 < image.width()) {
        EXPECT_EQ(Count(image, lastX + 2, picture.RowsTop(), picture.RowsBottom(), trace), 0);
    }

    // A double click on the third event (channels 1 and 2) while channel 3 is shown: the
    // Helicorder page with channel 1, the event framed in the highlight colour; and the event
    // opened, its traces on the three channels raw and band-passed, its start marked.
    form_->FormKeyDown(Qt::Key_E, Qt::NoModifier);
    form_->Model().Settings().HelicorderChannel = 3;
    emit list->itemDoubleClicked(list->topLevelItem(0), 0);
    EXPECT_EQ(form_->PageControl()->currentWidget(), heli);
    EXPECT_EQ(form_->Model().Settings().HelicorderChannel, 1);
    EXPECT_EQ(heli->LastDraw().Highlight, events[2].Id);
    {
        const auto [row, x] = column(static_cast<double>(t0_) + planted_[2].At + 5);
        const int top = picture.RowTop(row);
        EXPECT_EQ(Count(heli->View()->Image(), x, top, top + 3,
                        THelicorderPicture::HighlightColour().rgb()),
                  3);
    }
    auto* dialog = form_->EventsPage()->findChild<TEventDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->EventId(), events[2].Id);
    const QImage& traces = dialog->Picture();
    const int startX = dialog->XOf(events[2].Start);
    EXPECT_EQ(traces.pixelColor(startX, 5), TEventDialog::StartColour());
    // Six traces of 44 pixels; the quake's raw trace on channel 1 far larger at its S than
    // before its start.
    EXPECT_GE(traces.height(), 6 * 44);
    const auto inked = [&traces](int x, int top) {
        int count = 0;
        for (int y = top; y < top + 44; ++y) {
            count += traces.pixelColor(x, y).lightness() < 100 ? 1 : 0;
        }
        return count;
    };
    const int sX = dialog->XOf(
        TSampleTime{t0_ + static_cast<int64_t>(planted_[2].At + SMinusP(planted_[2]) + 1), 0});
    EXPECT_GT(inked(sX, 0), 4 * std::max(1, inked(dialog->PlotLeft() + 2, 0)));
    dialog->close();

    // Save Picture: a folder that does not exist is refused and the dialog shown again; then
    // the day as a PNG, 96 rows of 15 minutes.
    std::vector<QString> offered;
    int shown = 0;
    const QString missing = dir_.filePath(QStringLiteral("no-such-folder/day.png"));
    const QString good = dir_.filePath(QStringLiteral("day.png"));
    form_->Prompts().SetDialogHook([&](QDialog& dialog) {
        auto& files = static_cast<QFileDialog&>(dialog);
        offered.push_back(QFileInfo(files.selectedFiles().value(0)).fileName());
        files.selectFile(++shown == 1 ? missing : good);
        return static_cast<int>(QDialog::Accepted);
    });
    messages_.clear();
    EXPECT_TRUE(heli->SavePicture());
    EXPECT_EQ(shown, 2);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].indexOf(QStringLiteral("no-such-folder")), -1);
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_TRUE(offered[0].startsWith(QStringLiteral("helicorder-ch1-")))
        << offered[0].toStdString();
    EXPECT_TRUE(offered[0].endsWith(QStringLiteral(".png")));
    EXPECT_FALSE(QFileInfo::exists(missing));
    const QImage saved(good);
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(),
              QSize(THelicorderPage::PictureWidth, 96 * THelicorderPage::PictureRowHeight +
                                                       THelicorderPicture::Margins(heli->font())));
    // Cancel writes nothing.
    form_->Prompts().SetDialogHook([](QDialog&) { return static_cast<int>(QDialog::Rejected); });
    EXPECT_FALSE(heli->SavePicture());
}

}  // namespace
