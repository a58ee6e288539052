// The GPS page on its own: a log whose every character can be read and whose
// view stays where the user put it, and values that fit at a large font.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

#include "main/gps_page.h"
#include "monitor/gps_texts.h"
#include "monitor/monitor_model.h"

namespace {

// A log line as long as the longest the digitizer sends: a block count, the
// last valid block and a GPS text of 130 characters without blanks.
TGpsPageUpdate LogLine(int n) {
    TGpsPageUpdate update;
    update.Present = true;
    std::string text = "$GPRMC,";
    while (text.size() < 130) {
        text += std::to_string(n) + ",";
    }
    update.MemoLine = std::to_string(n) + "-" + std::to_string(n) + ": " + text.substr(0, 130);
    return update;
}

class GpsPageTest : public ::testing::Test {
  protected:
    void Apply(int from, int to) {
        for (int n = from; n <= to; ++n) {
            page_.Apply(LogLine(n));
        }
        QApplication::processEvents();
    }

    QPlainTextEdit* Memo() const { return page_.Memo(); }
    QScrollBar* Bar() const { return Memo()->verticalScrollBar(); }

    // The log lines at the top and at the bottom of the view.
    std::string TopLine() const { return LineAt(4); }
    std::string BottomLine() const { return LineAt(Memo()->viewport()->height() - 4); }
    std::string Newest() const { return Memo()->document()->lastBlock().text().toStdString(); }
    std::string LineAt(int y) const {
        return Memo()->cursorForPosition(QPoint(4, y)).block().text().toStdString();
    }

    TMonitorModel model_{TSettings{}};
    TGpsPage page_{model_};
};

}  // namespace

TEST_F(GpsPageTest, LogLinesWrapWithinTheView) {
    page_.resize(757, 460);
    page_.show();
    Apply(1, 3);
    EXPECT_EQ(Memo()->horizontalScrollBar()->maximum(), 0) << "nothing out of view to the right";
    const QTextLayout* layout = Memo()->document()->lastBlock().layout();
    ASSERT_GT(layout->lineCount(), 1);
    int characters = 0;
    for (int i = 0; i < layout->lineCount(); ++i) {
        EXPECT_LE(layout->lineAt(i).naturalTextWidth(), Memo()->viewport()->width()) << i;
        characters += layout->lineAt(i).textLength();
    }
    EXPECT_EQ(size_t(characters), Newest().size());
}

TEST_F(GpsPageTest, LogFollowsTheNewestLineUntilTheUserScrollsBack) {
    page_.resize(757, 460);
    Apply(1, 30);  // while another page is shown
    page_.show();
    QApplication::processEvents();
    EXPECT_EQ(Memo()->blockCount(), TGpsPage::MemoLines);
    EXPECT_EQ(BottomLine(), Newest()) << "first shown at the newest line";

    // Scrolled back a page: the lines in view stay while old ones are dropped.
    Bar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    const std::string top = TopLine();
    Apply(31, 34);
    EXPECT_EQ(TopLine(), top);
    EXPECT_NE(BottomLine(), Newest());

    // Back at the bottom, it follows again, also when the width rewraps the lines.
    Bar()->triggerAction(QAbstractSlider::SliderToMaximum);
    Apply(35, 35);
    EXPECT_EQ(BottomLine(), Newest());
    page_.resize(500, 460);
    QApplication::processEvents();
    EXPECT_EQ(BottomLine(), Newest());
    Apply(36, 36);
    EXPECT_EQ(BottomLine(), Newest());
    EXPECT_EQ(Newest().rfind("36-36: ", 0), 0u);
}

// Every value label is wide enough for its text and lies whole inside each
// widget around it, so nothing is cut or scrolled out of view to the right.
void ExpectValuesInView(TGpsPage& page) {
    TGpsPageUpdate update;
    update.Present = true;
    update.MemoLine = "1-1: $GPRMC";
    update.GPSDate = "31/12/2024";
    update.GPSLat = "46 deg 57.1234 min North";
    update.GPSLong = "123 deg 57.1234 min West";
    update.GPSTracking = GpsTrackingText('C');  // the longest texts of the code tables
    update.GPSRTC = GpsRtcText('A');
    update.GPSUTC = "18 secs (Invalid)";
    page.Apply(update);
    page.SetSystemTime(QStringLiteral("31/12/2024 23:59:59"));
    page.resize(757, 460);
    page.show();
    QApplication::processEvents();

    ASSERT_EQ(page.font().pointSize(), 14);
    for (const char* name :
         {"GPSDate", "SysTime", "GPSLat", "GPSLong", "GPSTracking", "GPSRTC", "GPSUTC"}) {
        const QLabel* label = page.Value(QString::fromLatin1(name));
        EXPECT_GE(label->contentsRect().width(),
                  label->fontMetrics().horizontalAdvance(label->text()))
            << name << ": " << label->text().toStdString();
        for (const QWidget* around = label->parentWidget(); around != page.parentWidget();
             around = around->parentWidget()) {
            EXPECT_GE(label->mapTo(around, QPoint(0, 0)).x(), 0) << name;
            EXPECT_LE(label->mapTo(around, QPoint(label->width(), 0)).x(), around->width())
                << name << " in " << around->metaObject()->className();
        }
    }
}

// The desktop's font at 14 points when the page is built, and set to 14 points
// while it is open.
TEST(GpsPage, ValuesFitAtALargeFont) {
    struct TAppFont {
        QFont Old = QApplication::font();
        ~TAppFont() { QApplication::setFont(Old); }
    } appFont;
    QFont large = appFont.Old;
    large.setPointSize(14);

    const TMonitorModel model{TSettings{}};
    TGpsPage open(model);
    QApplication::setFont(large);
    TGpsPage built(model);
    {
        SCOPED_TRACE("built at 14 points");
        ExpectValuesInView(built);
    }
    {
        SCOPED_TRACE("changed to 14 points");
        ExpectValuesInView(open);
    }
}
