// The Channels page in the main window: blocks handed to ProcessBlock as the
// link would, the page's controls and keys, and traces from the simulator.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <cmath>
#include <cstring>
#include <functional>

#include "main/band_list.h"
#include "main/channels_page.h"
#include "main/details_panel.h"
#include "main/widgets.h"
#include "support/blocks.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

namespace {

const QColor TraceColour(0, 255, 0);  // the default trace colour

class ChannelsPageTest : public TWindowTest {
  protected:
    void SetUp() override {
        OpenSilent();
        page_ = form_->ChannelsPage();
        list_ = page_->StoredWavesList();
    }

    // A block of a sine per channel (amplitude 100000 counts, a period of 50
    // samples) on a DC level of 1000 counts per channel number.
    void SineBlocks(int count, int channels = 3, int rate = 100) {
        for (int b = 0; b < count; ++b) {
            form_->ProcessBlock(
                MakeBlock({.Channels = channels, .Rate = rate, .Counts = [](int c, int j) {
                               return static_cast<int32_t>(1000 * (c + 1) +
                                                           100000 * std::sin(j * 2 * M_PI / 50));
                           }}));
        }
    }
    void ConstantBlocks(int count, int32_t counts) {
        for (int b = 0; b < count; ++b) {
            form_->ProcessBlock(
                MakeBlock({.Channels = 1, .Counts = [counts](int, int) { return counts; }}));
        }
    }

    QString Text(const QString& name) const { return Value(name); }
    QToolButton* Button(const char* name) const { return Find<QToolButton>(name); }
    QCheckBox* Disp(int n) const { return Find<QCheckBox>(QStringLiteral("Disp%1").arg(n)); }
    QSpinBox* Seconds() const { return Find<QSpinBox>(QStringLiteral("StoredSecondsSpinEdit")); }
    QLineEdit* DcEdit() const { return Find<QLineEdit>(QStringLiteral("DCTimeConstEdit")); }
    // Zoom in, maximum, zoom out, minimum: which are enabled.
    std::vector<bool> ZoomEnabled() const {
        return {Button("ZoomInButton")->isEnabled(), Button("MaxZoomButton")->isEnabled(),
                Button("ZoomOutButton")->isEnabled(), Button("MinZoomButton")->isEnabled()};
    }

    // The rows and rightmost column of the trace colour in a band's image.
    static std::vector<int> TraceRows(const QImage& image, int x) {
        std::vector<int> rows;
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixelColor(x, y) == TraceColour) {
                rows.push_back(y);
            }
        }
        return rows;
    }
    static int TraceRight(const QImage& image, QRect band) {
        for (int x = band.right(); x >= band.left(); --x) {
            for (int y = band.top(); y <= band.bottom(); ++y) {
                if (image.pixelColor(x, y) == TraceColour) {
                    return x - band.left();
                }
            }
        }
        return -1;
    }
    // The list as the screen shows it, and band i's rectangle there.
    QImage Screen() const { return list_->grab().toImage(); }
    QRect Band(int i) const {
        return QRect(0, i * list_->ItemHeight(), list_->ItemWidth(), list_->ItemHeight());
    }

    TChannelsPage* page_ = nullptr;
    TBandList* list_ = nullptr;
};

}  // namespace

TEST_F(ChannelsPageTest, ControlsStartInTheirDesignStateAndNothingIsDrawnBeforeABlock) {
    EXPECT_EQ(form_->PageControl()->currentWidget(), page_);
    EXPECT_EQ(Button("MaxZoomButton")->text(), QStringLiteral("+"));
    EXPECT_EQ(Button("MinZoomButton")->text(), QStringLiteral("-"));
    Button("ClearWavesButton");
    EXPECT_EQ(ZoomEnabled(), (std::vector<bool>{false, false, false, false}));
    auto* removeDc = Find<QCheckBox>(QStringLiteral("RemoveDC"));
    EXPECT_EQ(removeDc->text(), QStringLiteral("Remove DC"));
    EXPECT_TRUE(removeDc->isChecked());
    auto* overlay = Find<QCheckBox>(QStringLiteral("Overlay"));
    EXPECT_EQ(overlay->text(), QStringLiteral("Overlay"));
    EXPECT_FALSE(overlay->isChecked());
    EXPECT_EQ(Text(QStringLiteral("Label46")), QStringLiteral("Display Seconds"));
    EXPECT_EQ(Seconds()->minimum(), 1);
    EXPECT_EQ(Seconds()->maximum(), 86400);
    EXPECT_EQ(Seconds()->value(), 30);
    EXPECT_EQ(DcEdit()->text(), QStringLiteral("0") + QLocale::system().decimalPoint() + "003");
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(Disp(n)->text(), QString::number(n));
        EXPECT_TRUE(Disp(n)->isChecked());
        EXPECT_TRUE(Disp(n)->isEnabled());
        EXPECT_TRUE(Find<QFrame>(QStringLiteral("Bevel%1").arg(n))->isHidden());
        for (const char* label : {"L", "Off", "Rms", "Db", "AvDb"}) {
            EXPECT_TRUE(Find<QLabel>(QStringLiteral("Ch%1%2").arg(n).arg(label))->isHidden());
        }
    }
    EXPECT_EQ(Find<QWidget>(QStringLiteral("Panel3"))->height(), 41);
    EXPECT_GE(Find<QWidget>(QStringLiteral("ChannelDetailsPanel"))->width(), 145);
    EXPECT_EQ(list_->Count(), 0);

    // No channels yet: the zoom keys and the drawing routines do nothing.
    form_->FormKeyDown(Qt::Key_U, Qt::NoModifier);
    EXPECT_EQ(page_->Zoom(), 1);
    const QImage before = list_->Image(0);
    page_->DrawTraces(true);
    page_->ShowDetails(true);
    EXPECT_EQ(list_->Image(0), before);
    EXPECT_TRUE(Find<QLabel>(QStringLiteral("Ch1L"))->isHidden());
}

TEST_F(ChannelsPageTest, DisplayedChannelsGetEqualBandsAndTheirFigures) {
    SineBlocks(2);
    ASSERT_EQ(list_->Count(), 3);
    EXPECT_EQ(list_->ItemHeight(), list_->height() / 3);
    EXPECT_EQ(list_->ItemWidth(), list_->width());
    EXPECT_EQ(list_->Image(2).size(), QSize(list_->ItemWidth(), list_->ItemHeight()));
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(Disp(n)->isChecked(), n <= 3) << n;
        EXPECT_EQ(Disp(n)->isEnabled(), n <= 3) << n;
    }
    const QImage screen = Screen();
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(TraceRight(screen, Band(i)), 0) << "band " << i;
    }
    EXPECT_TRUE(Text("Ch1L").startsWith(QStringLiteral("1: \u00b18") +
                                        QLocale::system().decimalPoint() + "389 V, "))
        << Text("Ch1L").toStdString();
    EXPECT_TRUE(Text("Ch3Off").startsWith(QStringLiteral("Offset = ")));
    EXPECT_TRUE(Text("Ch3Rms").startsWith(QStringLiteral("AC = ")));
    EXPECT_TRUE(Text("Ch3Db").startsWith(QStringLiteral("RMS = ")));
    EXPECT_TRUE(Text("Ch3AvDb").endsWith(QStringLiteral(" dB")));
    const int panelHeight = Find<QWidget>(QStringLiteral("ChannelDetailsPanel"))->height();
    EXPECT_EQ(Find<QFrame>(QStringLiteral("Bevel2"))->y(), panelHeight / 3);
    EXPECT_EQ(Find<QLabel>(QStringLiteral("Ch1L"))->y(), 4);
    EXPECT_EQ(Find<QLabel>(QStringLiteral("Ch1AvDb"))->y(), 60);

    // Channel 2 hidden: two equal bands, the second showing channel 3.
    Disp(2)->click();
    ASSERT_EQ(list_->Count(), 2);
    EXPECT_EQ(list_->ItemChannel(1), 2);
    EXPECT_EQ(list_->ItemHeight(), list_->height() / 2);
    EXPECT_GE(TraceRight(Screen(), Band(1)), 0) << "redrawn at once";
    EXPECT_TRUE(Find<QLabel>(QStringLiteral("Ch2L"))->isHidden());
    EXPECT_TRUE(Find<QFrame>(QStringLiteral("Bevel2"))->isHidden());
    EXPECT_EQ(Find<QFrame>(QStringLiteral("Bevel3"))->y(), panelHeight / 2);
    EXPECT_EQ(Find<QLabel>(QStringLiteral("Ch3L"))->y(), panelHeight / 2 + 4);
    EXPECT_FALSE(Text("Ch3L").isEmpty());

    // Four channels: boxes 5 and 6 unchecked and disabled; 4 comes back
    // enabled but unchecked, as does 2.
    SineBlocks(1, 4);
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(Disp(n)->isChecked(), n == 1 || n == 3) << n;
        EXPECT_EQ(Disp(n)->isEnabled(), n <= 4) << n;
    }
    EXPECT_EQ(list_->Count(), 2);
}

TEST_F(ChannelsPageTest, ZoomStepsTheRangeAndEnablesItsButtonsByTheLimits) {
    SineBlocks(1, 1);
    EXPECT_EQ(ZoomEnabled(), (std::vector<bool>{true, true, false, false}));
    const QString point = QLocale::system().decimalPoint();
    EXPECT_TRUE(Text("Ch1L").startsWith("1: \u00b18" + point + "389 V,"));
    // The rows the trace covers anywhere in the band.
    auto traceRows = [this] {
        const QImage& image = list_->Image(0);
        std::pair<int, int> rows{image.height(), -1};
        for (int x = 0; x < image.width(); ++x) {
            for (int y : TraceRows(image, x)) {
                rows = {std::min(rows.first, y), std::max(rows.second, y)};
            }
        }
        return rows;
    };
    const int height = list_->ItemHeight();
    const auto atOne = traceRows();
    EXPECT_LT(atOne.second - atOne.first, height / 4) << "+-100000 counts of +-8388608";

    Button("ZoomInButton")->click();
    EXPECT_TRUE(Text("Ch1L").startsWith("1: \u00b14" + point + "194 V,"));
    EXPECT_EQ(ZoomEnabled(), (std::vector<bool>{true, true, true, true}));

    Button("MaxZoomButton")->click();
    EXPECT_TRUE(Text("Ch1L").startsWith("1: \u00b11" + point + "000 \u00b5V,"));
    EXPECT_EQ(ZoomEnabled(), (std::vector<bool>{false, false, true, true}));
    // Redrawn at once: the trace now runs from edge to edge of the band.
    EXPECT_EQ(traceRows(), std::make_pair(0, height - 1));

    Button("MinZoomButton")->click();
    EXPECT_EQ(page_->Zoom(), 1);
    EXPECT_EQ(ZoomEnabled(), (std::vector<bool>{true, true, false, false}));
    form_->StartButtonClick();
    EXPECT_EQ(ZoomEnabled(), (std::vector<bool>{false, false, false, false}));
}

TEST_F(ChannelsPageTest, KeysShowTabsZoomAndChangeTheSecondsShown) {
    QTabWidget* tabs = form_->PageControl();
    const std::pair<int, TMainForm::TTab> tabKeys[] = {
        {Qt::Key_H, TMainForm::HeaderTab},  {Qt::Key_G, TMainForm::GpsTab},
        {Qt::Key_O, TMainForm::ControlTab}, {Qt::Key_T, TMainForm::TemperaturesTab},
        {Qt::Key_F, TMainForm::FftTab},     {Qt::Key_C, TMainForm::ChannelsTab}};
    for (const auto& [key, tab] : tabKeys) {
        form_->FormKeyDown(key, Qt::ShiftModifier);
        EXPECT_EQ(tabs->currentIndex(), tab) << key;
    }
    form_->FormKeyDown(Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), TMainForm::ChannelsTab) << "Ctrl+H is not a tab key";

    SineBlocks(1, 1);
    form_->FormKeyDown(Qt::Key_U, Qt::NoModifier);
    EXPECT_EQ(page_->Zoom(), 2);
    form_->FormKeyDown(Qt::Key_U, Qt::ShiftModifier);
    EXPECT_EQ(page_->Zoom(), 8388608);
    form_->FormKeyDown(Qt::Key_U, Qt::NoModifier);
    EXPECT_EQ(page_->Zoom(), 8388608) << "zoom in is disabled at the maximum";
    form_->FormKeyDown(Qt::Key_D, Qt::NoModifier);
    EXPECT_EQ(page_->Zoom(), 4194304);
    form_->FormKeyDown(Qt::Key_D, Qt::ShiftModifier);
    EXPECT_EQ(page_->Zoom(), 1);
    form_->FormKeyDown(Qt::Key_H, Qt::NoModifier);
    form_->FormKeyDown(Qt::Key_U, Qt::NoModifier);
    EXPECT_EQ(page_->Zoom(), 1) << "only on the Channels tab";
    Seconds()->setValue(3);
    form_->FormKeyDown(Qt::Key_Z, Qt::NoModifier);
    EXPECT_EQ(Seconds()->value(), 3);
    form_->FormKeyDown(Qt::Key_C, Qt::NoModifier);

    // X and Z on the Channels tab: doubled up to the maximum, halved down to 1.
    form_->FormKeyDown(Qt::Key_Z, Qt::NoModifier);
    EXPECT_EQ(Seconds()->value(), 1);
    form_->FormKeyDown(Qt::Key_Z, Qt::NoModifier);
    EXPECT_EQ(Seconds()->value(), 1);
    Seconds()->setValue(60000);
    form_->FormKeyDown(Qt::Key_X, Qt::NoModifier);
    EXPECT_EQ(Seconds()->value(), 86400);
    EXPECT_EQ(form_->Model().Settings().StoredSeconds, 86400);
    EXPECT_EQ(form_->Model().Channels().StoredSeconds(), 86400);
    form_->FormKeyDown(Qt::Key_Z, Qt::NoModifier);
    EXPECT_EQ(Seconds()->value(), 43200);

    // The window previews what is typed into its fields: X typed into the
    // seconds field doubles it (the letter itself does not go in); digits
    // typed into the DC field go in.
    QWindow* window = form_->windowHandle();
    ASSERT_NE(window, nullptr);
    Seconds()->setFocus();
    Seconds()->setValue(100);
    QTest::keyClick(window, 'x');
    EXPECT_EQ(Seconds()->value(), 200);
    EXPECT_EQ(Seconds()->text(), QStringLiteral("200"));
    DcEdit()->setFocus();
    DcEdit()->selectAll();
    QTest::keyClick(window, '1');
    EXPECT_EQ(DcEdit()->text(), QStringLiteral("1"));
    EXPECT_EQ(form_->Model().Settings().DCTimeConst, 1);
    QTest::keyClick(window, 'h');
    EXPECT_EQ(tabs->currentIndex(), TMainForm::HeaderTab);
    EXPECT_EQ(DcEdit()->text(), QStringLiteral("1"));
}

TEST_F(ChannelsPageTest, TheDcFieldTakesEachKeystrokeAsItComes) {
    const std::string point = QLocale::system().decimalPoint().toStdString();
    QLineEdit* edit = DcEdit();
    auto type = [edit](char key) { QTest::keyClick(edit, key); };
    auto dc = [this] { return form_->Model().Settings().DCTimeConst; };
    edit->selectAll();
    type('0');
    EXPECT_EQ(dc(), 0);
    EXPECT_EQ(form_->Model().Channels().DcTimeConst(), 0);
    QTest::keyClicks(edit, QString::fromStdString(point));
    EXPECT_EQ(dc(), 0);
    type('5');
    EXPECT_EQ(dc(), 0.5);
    EXPECT_EQ(form_->Model().Channels().OffsetAlpha(), 0.5);
    QTest::keyClicks(edit, QString::fromStdString(point));
    type('a');
    EXPECT_EQ(edit->text().toStdString(), "0" + point + "5") << "a second point, a letter";

    edit->selectAll();
    type('1');
    EXPECT_EQ(dc(), 1);
    QTest::keyClicks(edit, QString::fromStdString(point));
    EXPECT_EQ(dc(), 1);
    type('5');
    EXPECT_EQ(dc(), 1);
    EXPECT_EQ(edit->text(), QStringLiteral("1")) << "1.5 is out of range: 1 is shown again";

    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), QStringLiteral("1")) << "an emptied field shows the value at once";

    // The seconds field takes digits only; emptied, it holds 1.
    QSpinBox* seconds = Seconds();
    seconds->selectAll();
    QTest::keyClicks(seconds, "1a5-.");
    EXPECT_EQ(seconds->text(), QStringLiteral("15"));
    EXPECT_EQ(form_->Model().Settings().StoredSeconds, 15);
    seconds->selectAll();
    QTest::keyClick(seconds, Qt::Key_Backspace);
    EXPECT_EQ(seconds->text(), QStringLiteral("1"));
    EXPECT_EQ(form_->Model().Channels().StoredSeconds(), 1);
}

TEST_F(ChannelsPageTest, ClearRemoveDcSecondsAndColoursRedrawAtOnce) {
    // One volt of DC: with DC removal on the centre line, without it higher up.
    ConstantBlocks(3, 1000000);
    const QImage& image = list_->Image(0);
    const int mid = list_->ItemHeight() / 2;
    const int x = list_->ItemWidth() / 40;
    EXPECT_EQ(TraceRows(image, x), (std::vector<int>{mid}));
    Find<QCheckBox>(QStringLiteral("RemoveDC"))->click();
    const int raised = static_cast<int>(mid - list_->ItemHeight() / (2 * 8388608.0) * 1000000.0);
    EXPECT_EQ(TraceRows(list_->Image(0), x), (std::vector<int>{raised}));

    // 3 of 30 seconds fill a tenth of the band; shown over 3 seconds, all of it.
    const QRect band(0, 0, list_->ItemWidth(), list_->ItemHeight());
    EXPECT_NEAR(TraceRight(list_->Image(0), band), list_->ItemWidth() / 10, 2);
    Seconds()->setValue(3);
    EXPECT_EQ(TraceRight(list_->Image(0), band), 299 * list_->ItemWidth() / 300);
    EXPECT_EQ(form_->Model().Settings().StoredSeconds, 3);

    Button("ClearWavesButton")->click();
    EXPECT_EQ(form_->Model().Channels().ChannelHistory(0).Size(), 0u);
    EXPECT_EQ(TraceRight(list_->Image(0), band), -1);
    EXPECT_NE(form_->Model().Channels().ChannelStats(0).Offset, 0) << "statistics stay";

    // A new background colour: the bands are drawn again in it.
    ConstantBlocks(1, 0);
    form_->Model().Settings().DataBgdCol = 0x7F302010;  // the top byte is not part of the colour
    form_->ColourSettingsChanged();
    EXPECT_EQ(list_->Image(0).pixelColor(band.bottomRight()), QColor(0x10, 0x20, 0x30));
    EXPECT_EQ(list_->Colour(), QColor(0x10, 0x20, 0x30));
}

TEST_F(ChannelsPageTest, FiguresAndFieldsFitTheirTextsAtTheirFont) {
    // High gain and a newest value near full scale: the longest figure line.
    form_->ProcessBlock(MakeBlock({.GainCode = "G7", .Counts = [](int, int) { return -8388000; }}));
    TDetailsPanel* panel = page_->DetailsPanel();
    auto fits = [](QLabel* label) {
        return label->fontMetrics().horizontalAdvance(label->text()) <= label->width();
    };
    for (double zoom : {1.0, 32.0, 8388608.0}) {
        while (page_->Zoom() < zoom) {
            Button("ZoomInButton")->click();
        }
        for (int line = 0; line < 5; ++line) {
            QLabel* label = panel->Label(0, line);
            EXPECT_TRUE(fits(label)) << label->text().toStdString() << " at zoom " << zoom;
        }
    }
    EXPECT_TRUE(Text("Ch1L").endsWith(QStringLiteral(" mV"))) << Text("Ch1L").toStdString();
    // A larger font widens the column.
    const int width = panel->width();
    QFont large = panel->font();
    large.setPixelSize(18);
    panel->setFont(large);
    EXPECT_GT(panel->width(), width);
    page_->ShowDetails(true);
    EXPECT_TRUE(fits(panel->Label(0, 0))) << Text("Ch1L").toStdString();

    // The DC field holds its value at the font it is shown in.
    QLineEdit* edit = DcEdit();
    QFont big = edit->font();
    big.setPointSize(14);
    edit->setFont(big);
    FitEditWidth(edit, QStringLiteral("0.00000"), 52);
    EXPECT_GE(edit->width(), edit->fontMetrics().horizontalAdvance(edit->text()) + 8);

    // The seconds field emptied holds 1, selected: what is typed next replaces it.
    QSpinBox* seconds = Seconds();
    seconds->selectAll();
    QTest::keyClick(seconds, Qt::Key_Backspace);
    QTest::keyClicks(seconds, "60");
    EXPECT_EQ(seconds->value(), 60);
    EXPECT_EQ(form_->Model().Settings().StoredSeconds, 60);
}

// Against the simulator: the traces sweep across their bands as blocks arrive.
using ChannelsPageSim = TWindowTest;

TEST_F(ChannelsPageSim, TracesSweepAcrossTheBands) {
    TSimConfig config = SimConfig();
    config.Mde = false;
    Launch(config);
    ASSERT_FALSE(HasFatalFailure());
    TBandList* list = form_->ChannelsPage()->StoredWavesList();
    auto history = [&] { return form_->Model().Channels().ChannelHistory(0).Size(); };
    ASSERT_TRUE(QtWaitFor([&] { return history() >= 300; }, 10s));
    auto rightmost = [&](int band) {
        const QImage screen = list->grab().toImage();
        const int top = band * list->ItemHeight();
        for (int x = list->ItemWidth() - 1; x >= 0; --x) {
            for (int y = top; y < top + list->ItemHeight(); ++y) {
                if (screen.pixelColor(x, y) == TraceColour) {
                    return x;
                }
            }
        }
        return -1;
    };
    ASSERT_EQ(list->Count(), 3);
    for (int band = 0; band < 3; ++band) {
        EXPECT_GT(rightmost(band), 0) << band;
    }
    const size_t before = history();
    const int reached = rightmost(0);
    ASSERT_TRUE(QtWaitFor([&] { return history() >= before + 200; }, 10s));
    EXPECT_GT(rightmost(0), reached) << "the sweep moves right";
    EXPECT_TRUE(Value("Ch1L").startsWith(QStringLiteral("1: \u00b18") +
                                         QLocale::system().decimalPoint() + "389 V, "));
}
