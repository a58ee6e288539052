// The FFT page in the main window: its controls and settings, spectra drawn
// once the rings hold enough samples, the mouse readout, and the simulator's
// sines found at their frequencies.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QTabWidget>
#include <cmath>

#include "main/band_list.h"
#include "main/fft_page.h"
#include "support/blocks.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

namespace {

const QColor TraceColour(0, 255, 255);  // the default FFT foreground colour

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) {
        items << combo->itemText(i);
    }
    return items;
}

void MoveMouse(QWidget* widget, QPoint point) {
    QMouseEvent move(QEvent::MouseMove, QPointF(point), QPointF(widget->mapToGlobal(point)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

// The column of a band's highest trace pixel (its strongest bin), -1 for none.
int PeakColumn(const QImage& image, int top, int height) {
    for (int y = top + 1; y < top + height; ++y) {
        for (int x = 1; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == TraceColour) {
                return x;
            }
        }
    }
    return -1;
}

class FftPageTest : public TWindowTest {
  protected:
    void Start() {
        OpenSilent();
        page_ = form_->FftPage();
        list_ = page_->FftList();
    }
    // Blocks of a sine per channel: channel c at 5 x (c + 1) Hz at 100
    // samples per second, a tenth of full scale.
    void SineBlocks(int count, int channels = 3) {
        for (int b = 0; b < count; ++b) {
            form_->ProcessBlock(MakeBlock({.Channels = channels, .Counts = [](int c, int j) {
                                               return static_cast<int32_t>(
                                                   838860 *
                                                   std::sin(2 * M_PI * 5 * (c + 1) * j / 100.0));
                                           }}));
        }
    }
    QComboBox* Combo(const char* name) const { return Find<QComboBox>(name); }
    QCheckBox* Check(const QString& name) const { return Find<QCheckBox>(name); }

    TFftPage* page_ = nullptr;
    TBandList* list_ = nullptr;
};

}  // namespace

TEST_F(FftPageTest, ControlsStartInTheirDesignStateAndFollowTheSettings) {
    Start();
    EXPECT_EQ(Check(QStringLiteral("FFTOverlay"))->text(), QStringLiteral("Overlay"));
    EXPECT_FALSE(Check(QStringLiteral("FFTOverlay"))->isChecked());
    EXPECT_EQ(Check(QStringLiteral("AutoCalc"))->text(), QStringLiteral("Automatically Update"));
    EXPECT_TRUE(Check(QStringLiteral("AutoCalc"))->isChecked());
    EXPECT_EQ(Value(QStringLiteral("Label58")), QStringLiteral("Window"));
    EXPECT_EQ(Value(QStringLiteral("Label56")), QStringLiteral("No. Points"));
    EXPECT_EQ(Items(Combo("FFTWindowCombo")), (QStringList{"Blackman Harris", "Hanning", "None"}));
    EXPECT_EQ(Combo("FFTWindowCombo")->currentText(), QStringLiteral("Blackman Harris"));
    EXPECT_FALSE(Combo("FFTWindowCombo")->isEditable());
    EXPECT_EQ(Items(Combo("NumPoints")), (QStringList{"1024", "2048", "4096", "8192"}));
    EXPECT_EQ(Combo("NumPoints")->currentText(), QStringLiteral("1024"));
    for (int n = 1; n <= 6; ++n) {
        EXPECT_TRUE(Check(QStringLiteral("FDisp%1").arg(n))->isChecked());
        EXPECT_TRUE(Find<QFrame>(QStringLiteral("FBevel%1").arg(n))->isHidden());
        for (const char* label : {"L", "Fr", "Db", "xy"}) {
            EXPECT_TRUE(Find<QLabel>(QStringLiteral("FCh%1%2").arg(n).arg(label))->isHidden());
        }
    }
    EXPECT_GE(Find<QWidget>(QStringLiteral("FFTDetailsPanel"))->width(), 145);
    Find<QWidget>(QStringLiteral("FFTPanel"));
    EXPECT_EQ(list_->Count(), 0);

    // The F key shows the page; the choices go to the settings, saved at
    // exit and shown at the next start.
    form_->FormKeyDown(Qt::Key_F, Qt::NoModifier);
    EXPECT_EQ(form_->PageControl()->currentWidget(), page_);
    Combo("NumPoints")->setCurrentText(QStringLiteral("8192"));
    Combo("FFTWindowCombo")->setCurrentIndex(2);
    Check(QStringLiteral("AutoCalc"))->click();
    EXPECT_EQ(form_->Model().Settings().Points, 8192);
    EXPECT_EQ(form_->Model().FftWindow(), TFftWindow::None);
    EXPECT_EQ(form_->Model().Settings().AutoCalc, 0);
    form_.reset();
    Start();
    EXPECT_EQ(Combo("NumPoints")->currentText(), QStringLiteral("8192"));
    EXPECT_EQ(Combo("FFTWindowCombo")->currentText(), QStringLiteral("None"));
    EXPECT_FALSE(Check(QStringLiteral("AutoCalc"))->isChecked());
}

TEST_F(FftPageTest, SpectraAppearOnceTheRingsHoldThePointsAndReadOutUnderTheMouse) {
    Start();
    form_->FormKeyDown(Qt::Key_F, Qt::NoModifier);
    QApplication::processEvents();
    SineBlocks(10, 4);
    EXPECT_EQ(list_->Count(), 4) << "the bands follow the channels";
    EXPECT_TRUE(Find<QLabel>(QStringLiteral("FCh1L"))->isHidden()) << "1000 samples of 1024";
    EXPECT_EQ(PeakColumn(list_->Image(0), 0, list_->ItemHeight()), -1);

    SineBlocks(1, 4);
    const QString point = QLocale::system().decimalPoint();
    EXPECT_EQ(Value(QStringLiteral("FCh1L")), QStringLiteral("Channel 1 : (1") +
                                                  QLocale::system().groupSeparator() +
                                                  QStringLiteral("024 Points)"));
    EXPECT_EQ(Value(QStringLiteral("FCh2Fr")), "x : 0 -> 50" + point + "00 Hz");
    EXPECT_EQ(Value(QStringLiteral("FCh3Db")), "y : 0 -> -200" + point + "00 dB");
    const int width = list_->ItemWidth();
    for (int c = 0; c < 4; ++c) {
        // Channel c's sine at 5 (c + 1) Hz of the 50 Hz across.
        const int peak = PeakColumn(list_->Image(c), 0, list_->ItemHeight());
        EXPECT_NEAR(peak, width * (c + 1) / 10, 3) << c;
    }

    // Four bands of 100 pixels: the middle of the second reads -100 dB.
    list_->resize(list_->width(), 400);
    ASSERT_EQ(list_->ItemHeight(), 100);
    MoveMouse(list_, QPoint(width / 2, 150));
    const QString readout = Value(QStringLiteral("FCh2xy"));
    EXPECT_TRUE(readout.endsWith(", y: -100" + point + "00 dB")) << readout.toStdString();
    EXPECT_TRUE(readout.startsWith("x: 2")) << "half of 50 Hz: " << readout.toStdString();
    EXPECT_EQ(readout, page_->Readout(1));
    MoveMouse(list_, QPoint(0, 0));
    EXPECT_EQ(Value(QStringLiteral("FCh1xy")), "x: 0" + point + "00 Hz, y: 0" + point + "00 dB");
    SineBlocks(1, 4);
    EXPECT_EQ(Value(QStringLiteral("FCh2xy")), readout) << "kept from block to block";
}

TEST_F(FftPageTest, ChannelChoiceAutoCalcOverlayAndSpectraThatOutliveAReset) {
    Start();
    SineBlocks(11);
    // Channel 2 off: two bands, no figures for it; its spectrum is no longer
    // recomputed.
    Check(QStringLiteral("FDisp2"))->click();
    ASSERT_EQ(list_->Count(), 2);
    EXPECT_EQ(list_->ItemChannel(1), 2);
    EXPECT_TRUE(Find<QLabel>(QStringLiteral("FCh2L"))->isHidden());
    EXPECT_FALSE(Find<QLabel>(QStringLiteral("FCh3L"))->isHidden());
    EXPECT_EQ(Find<QFrame>(QStringLiteral("FBevel3"))->y(),
              Find<QWidget>(QStringLiteral("FFTDetailsPanel"))->height() / 2);
    EXPECT_GE(PeakColumn(list_->Image(2), 0, list_->ItemHeight()), 0) << "drawn at once";

    // AutoCalc off: the spectra stay as they are; the bands are not redrawn.
    Check(QStringLiteral("AutoCalc"))->click();
    const QImage before = list_->Image(0);
    form_->ProcessBlock(MakeBlock({.Channels = 3}));  // silence
    EXPECT_EQ(list_->Image(0), before);
    Check(QStringLiteral("AutoCalc"))->click();

    // Overlay: the old spectrum stays under the new one.
    Check(QStringLiteral("FFTOverlay"))->click();
    SineBlocks(1);
    EXPECT_GE(PeakColumn(list_->Image(0), 0, list_->ItemHeight()), 0);

    // A new format rebuilds the bands; the 1024-point spectra are shown until
    // the rings have refilled.
    form_->ProcessBlock(MakeBlock({.Channels = 3, .Rate = 200}));
    EXPECT_EQ(form_->Model().Channels().FftRing(0).Count(), 200);
    EXPECT_FALSE(Find<QLabel>(QStringLiteral("FCh1L"))->isHidden());
    EXPECT_EQ(Value(QStringLiteral("FCh1Fr")),
              "x : 0 -> 100" + QLocale::system().decimalPoint() + "00 Hz");
    EXPECT_GE(PeakColumn(list_->Image(0), 0, list_->ItemHeight()), 0);
}

// Against the simulator: each channel's sine (channel c at c + 1 Hz) read off
// at its peak with the mouse.
using FftPageSim = TWindowTest;

TEST_F(FftPageSim, EachChannelPeaksAtTheSimulatorsFrequency) {
    Launch();
    ASSERT_FALSE(HasFatalFailure());
    form_->FormKeyDown(Qt::Key_F, Qt::NoModifier);
    const TSpectra& spectra = form_->Model().Spectra();
    ASSERT_TRUE(QtWaitFor([&] { return spectra.Result(2) != nullptr; }, 20s));
    TBandList* list = form_->FftPage()->FftList();
    ASSERT_EQ(list->Count(), 3);
    const QImage screen = list->grab().toImage();
    for (int c = 0; c < 3; ++c) {
        const int top = c * list->ItemHeight();
        const int peak = PeakColumn(screen, top, list->ItemHeight());
        ASSERT_GT(peak, 0) << c;
        MoveMouse(list, QPoint(peak, top + list->ItemHeight() / 2));
        const QString readout = Value(QStringLiteral("FCh%1xy").arg(c + 1));
        bool ok = false;
        const double hertz =
            QLocale::system().toDouble(readout.section(QStringLiteral(" Hz"), 0, 0).mid(3), &ok);
        ASSERT_TRUE(ok) << readout.toStdString();
        EXPECT_NEAR(hertz, c + 1, 0.2) << readout.toStdString();
    }
}
