// The Temperatures page in the main window: blocks handed to ProcessBlock as
// the link would, its controls, keys, mouse readout and log file, and the
// drifting offsets of the simulator.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "main/band_list.h"
#include "main/prompts.h"
#include "main/temperatures_page.h"
#include "monitor/temperature_details.h"
#include "support/blocks.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

namespace {

const QColor DotColour(0, 255, 0);  // the default foreground colour

class TemperaturesPageTest : public TWindowTest {
  protected:
    void SetUp() override {
        OpenSilent();
        page_ = form_->TemperaturesPage();
        list_ = page_->StoredTemperaturesList();
        form_->Prompts().SetReportSink([this](const QString& text) { reports_.push_back(text); });
        form_->Prompts().SetSaveFileHook([this](const QString& title) {
            titles_.push_back(title);
            return chosen_;
        });
    }

    // Blocks of constant counts (100 x (channel + 1)) at `celsius` on the
    // one sensor; the log's writer thread done with each before the next, so that
    // what a block wrote is on disk and its news comes with the next block.
    void Blocks(int count, double celsius, int channels = 3) {
        for (int b = 0; b < count; ++b) {
            form_->ProcessBlock(MakeBlock({.Channels = channels,
                                           .BlockCount = ++blockCount_,
                                           .SensorTemp = celsius,
                                           .Counts = [](int c, int) { return 100 * (c + 1); }}));
            form_->Model().WaitForRecorder();
        }
    }
    // The file as the log's writer thread has left it.
    std::string Written(const std::string& path) const {
        form_->Model().WaitForRecorder();
        return Read(path);
    }
    QToolButton* Button(const char* name) const { return Find<QToolButton>(name); }
    QCheckBox* TDisp(int n) const { return Find<QCheckBox>(QStringLiteral("TDisp%1").arg(n)); }
    QSpinBox* Hours() const {
        return Find<QSpinBox>(QStringLiteral("StoredTemperatureHoursSpinEdit"));
    }
    QCheckBox* LogToFile() const { return Find<QCheckBox>(QStringLiteral("LogToFile")); }
    // Pixels of the dot colour in a channel's band image.
    int DotPixels(int channel) const {
        const QImage& image = list_->Image(channel);
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                n += image.pixelColor(x, y) == DotColour ? 1 : 0;
            }
        }
        return n;
    }
    void MoveMouse(QPoint point) {
        QMouseEvent move(QEvent::MouseMove, QPointF(point), QPointF(list_->mapToGlobal(point)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(list_, &move);
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TTemperaturesPage* page_ = nullptr;
    TBandList* list_ = nullptr;
    uint32_t blockCount_ = 0;
    std::vector<QString> reports_;
    std::vector<QString> titles_;
    QString chosen_;
};

}  // namespace

TEST_F(TemperaturesPageTest, ControlsStartInTheirDesignState) {
    EXPECT_EQ(Button("MaxZoomTemperatureButton")->text(), QStringLiteral("+"));
    EXPECT_EQ(Button("MinZoomTemperatureButton")->text(), QStringLiteral("-"));
    Button("ClearTemperaturesButton");
    for (const char* name : {"MaxZoomTemperatureButton", "ZoomInTemperatureButton",
                             "ZoomOutTemperatureButton", "MinZoomTemperatureButton"}) {
        EXPECT_FALSE(Button(name)->isEnabled()) << name << ": disabled until the first block";
    }
    EXPECT_EQ(LogToFile()->text(), QStringLiteral("Log To File"));
    EXPECT_FALSE(LogToFile()->isChecked());
    EXPECT_EQ(Value(QStringLiteral("Label54")), QStringLiteral("Stored Hours"));
    EXPECT_EQ(Hours()->minimum(), 1);
    EXPECT_EQ(Hours()->maximum(), 100);
    EXPECT_EQ(Hours()->value(), 1);
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(TDisp(n)->text(), QString::number(n));
        EXPECT_TRUE(TDisp(n)->isChecked());
        EXPECT_TRUE(Find<QFrame>(QStringLiteral("TBevel%1").arg(n))->isHidden());
        for (const char* label : {"L", "Off", "Temp", "xy"}) {
            EXPECT_TRUE(Find<QLabel>(QStringLiteral("TCh%1%2").arg(n).arg(label))->isHidden());
        }
    }
    EXPECT_GE(Find<QWidget>(QStringLiteral("TemperatureDetailsPanel"))->width(), 145);
    Find<QWidget>(QStringLiteral("StoredTemperaturesPanel"));
    EXPECT_EQ(list_->Count(), 0);
    EXPECT_EQ(list_->objectName(), QStringLiteral("StoredTemperaturesList"));
}

TEST_F(TemperaturesPageTest, ReadingsAreDotsWithTheirFiguresAndTheReadoutUnderTheMouse) {
    Blocks(2, 21.5);
    ASSERT_EQ(list_->Count(), 3);
    EXPECT_EQ(list_->ItemHeight(), list_->height() / 3);
    EXPECT_EQ(Value(QStringLiteral("TCh2Temp")), QStringLiteral("Temperature = 21") +
                                                     QLocale::system().decimalPoint() +
                                                     QStringLiteral("5 deg C"));
    EXPECT_TRUE(Value(QStringLiteral("TCh1L")).startsWith(QStringLiteral("1: \u00b18")));
    EXPECT_TRUE(Value(QStringLiteral("TCh3Off")).startsWith(QStringLiteral("Offset = ")));
    EXPECT_EQ(Find<QLabel>(QStringLiteral("TCh1xy"))->y(), 4 + 3 * 14);
    // Each band has a dot where its newest reading stands.
    for (int c = 0; c < 3; ++c) {
        const TTemperatureReading& reading = form_->Model().Temperatures()[size_t(c)].back();
        const TTemperatureScale scale =
            MakeTemperatureScale(list_->ItemWidth(), list_->ItemHeight(), 1, page_->Zoom());
        EXPECT_EQ(list_->Image(c).pixelColor(scale.X(reading.Temperature), scale.Y(reading.Offset)),
                  DotColour)
            << c;
    }
    // The readout: the middle of the second band is offset 0 at its
    // channel's range; the column 40 % across is 0 deg C.
    const int w = list_->ItemWidth();
    const int h = list_->ItemHeight();
    MoveMouse(QPoint(w * 2 / 5, h + h / 2));
    const QString readout = Value(QStringLiteral("TCh2xy"));
    EXPECT_EQ(readout, page_->Readout(1));
    EXPECT_TRUE(readout.startsWith(QStringLiteral("(0") + QLocale::system().decimalPoint() +
                                   QStringLiteral("0 deg C, ")))
        << readout.toStdString();
    MoveMouse(QPoint(5, 3 * h + 2));  // below the bands: no channel
    EXPECT_EQ(Value(QStringLiteral("TCh2xy")), readout);
    Blocks(1, 30);
    EXPECT_EQ(Value(QStringLiteral("TCh2xy")), readout) << "kept from block to block";

    // Channel 2 off: two bands, channel 3 in the second; readouts follow.
    TDisp(2)->click();
    ASSERT_EQ(list_->Count(), 2);
    EXPECT_TRUE(Find<QLabel>(QStringLiteral("TCh2Temp"))->isHidden());
    MoveMouse(QPoint(1, list_->ItemHeight() + 1));
    EXPECT_TRUE(Value(QStringLiteral("TCh3xy")).startsWith(QStringLiteral("(-39")));

    // Clear: no readings, empty bands.
    Button("ClearTemperaturesButton")->click();
    EXPECT_TRUE(form_->Model().Temperatures()[0].empty());
    EXPECT_EQ(DotPixels(0), 0);
    EXPECT_EQ(DotPixels(2), 0);
}

TEST_F(TemperaturesPageTest, KeysZoomAndChangeTheHoursOnThisTabOnly) {
    form_->FormKeyDown(Qt::Key_T, Qt::NoModifier);
    EXPECT_EQ(form_->PageControl()->currentWidget(), page_);
    form_->FormKeyDown(Qt::Key_U, Qt::NoModifier);
    EXPECT_EQ(page_->Zoom(), 1) << "disabled before the first block";
    Blocks(1, 20);
    const std::pair<int, Qt::KeyboardModifiers> zoomKeys[] = {{Qt::Key_U, Qt::NoModifier},
                                                              {Qt::Key_U, Qt::ShiftModifier},
                                                              {Qt::Key_U, Qt::NoModifier},
                                                              {Qt::Key_D, Qt::NoModifier},
                                                              {Qt::Key_D, Qt::ShiftModifier}};
    const double zooms[] = {2, 8388608, 8388608, 4194304, 1};
    for (size_t i = 0; i < std::size(zooms); ++i) {
        form_->FormKeyDown(zoomKeys[i].first, zoomKeys[i].second);
        EXPECT_EQ(page_->Zoom(), zooms[i]) << i;
    }
    EXPECT_FALSE(Button("MinZoomTemperatureButton")->isEnabled());
    for (int hours : {2, 4, 8, 16, 32, 64, 100, 100}) {
        form_->FormKeyDown(Qt::Key_X, Qt::NoModifier);
        EXPECT_EQ(Hours()->value(), hours);
    }
    EXPECT_EQ(form_->Model().Settings().StoredHours, 100);
    form_->FormKeyDown(Qt::Key_Z, Qt::NoModifier);
    EXPECT_EQ(Hours()->value(), 50);

    // On the Channels tab the same keys act there.
    form_->FormKeyDown(Qt::Key_C, Qt::NoModifier);
    form_->FormKeyDown(Qt::Key_U, Qt::NoModifier);
    form_->FormKeyDown(Qt::Key_Z, Qt::NoModifier);
    EXPECT_EQ(page_->Zoom(), 1);
    EXPECT_EQ(Hours()->value(), 50);
}

TEST_F(TemperaturesPageTest, TheLogFileIsChosenEmptiedAndWrittenOnceABlock) {
    // Cancelled: nothing is logged, the box stays checked.
    LogToFile()->click();
    ASSERT_EQ(titles_.size(), 1u);
    EXPECT_EQ(titles_[0], QStringLiteral("Select the file to save temperature readings to"));
    EXPECT_TRUE(LogToFile()->isChecked());
    EXPECT_TRUE(form_->Model().TemperatureLogName().empty());
    Blocks(2, 20);
    EXPECT_TRUE(QDir(dir_.path()).isEmpty()) << "no log file written";

    // An existing file chosen: emptied, then one line per block.
    const std::string logs = dir_.filePath(QStringLiteral("logs")).toStdString();
    const std::string path = logs + "/log.txt";
    std::filesystem::create_directory(logs);
    std::ofstream(path) << "old readings\r\n";
    chosen_ = QString::fromStdString(path);
    LogToFile()->click();  // off
    LogToFile()->click();  // on again: the dialog
    EXPECT_EQ(Written(path), "");
    Blocks(2, 20.25, 1);
    const std::string point = QLocale::system().decimalPoint().toStdString();
    const std::string line = "20" + point + "3,100" + point + "000\r\n";
    EXPECT_EQ(Read(path), line + line);

    // The file's directory goes: one message naming the file while logging
    // goes on; back again, the next block is written.
    std::filesystem::remove_all(logs);
    Blocks(3, 20, 1);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_TRUE(reports_[0].contains(chosen_)) << reports_[0].toStdString();
    std::filesystem::create_directory(logs);
    Blocks(1, 20, 1);
    EXPECT_EQ(Read(path), "20" + point + "0,100" + point + "000\r\n");
    EXPECT_EQ(reports_.size(), 1u);

    // Unchecked: no more logging.
    LogToFile()->click();
    Blocks(1, 20, 1);
    EXPECT_EQ(Read(path), "20" + point + "0,100" + point + "000\r\n");
}

// The save dialog itself: a file in a folder that does not exist is refused
// there, with a message, and the dialog stays for another choice; the file then
// chosen (the suffix added) is the log.
TEST_F(TemperaturesPageTest, TheLogDialogRefusesAFileInAFolderThatDoesNotExist) {
    form_->Prompts().SetSaveFileHook(nullptr);
    int shown = 0;
    form_->Prompts().SetDialogHook([&](QDialog& dialog) {
        ++shown;
        auto* files = dynamic_cast<TTextFileSaveDialog*>(&dialog);
        EXPECT_NE(files, nullptr);
        if (files == nullptr) {
            return int(QDialog::Rejected);
        }
        files->setDirectory(dir_.path());
        files->open();
        for (const char* missing : {"missing/log.txt", "missing/deeper/log"}) {
            files->selectFile(QString::fromLatin1(missing));
            files->accept();
            EXPECT_TRUE(files->isVisible()) << missing;
            EXPECT_NE(files->result(), int(QDialog::Accepted)) << missing;
        }
        files->selectFile(QStringLiteral("log"));
        files->accept();
        EXPECT_FALSE(files->isVisible());
        return files->result();
    });
    LogToFile()->click();
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_TRUE(messages_[0].contains(dir_.filePath(QStringLiteral("missing"))))
        << messages_[0].toStdString();
    EXPECT_TRUE(messages_[1].contains(dir_.filePath(QStringLiteral("missing/deeper"))))
        << messages_[1].toStdString();
    const std::string path = dir_.filePath(QStringLiteral("log.txt")).toStdString();
    EXPECT_EQ(form_->Model().TemperatureLogName(), path);
    Blocks(2, 20, 1);
    const std::string point = QLocale::system().decimalPoint().toStdString();
    const std::string line = "20" + point + "0,100" + point + "000\r\n";
    EXPECT_EQ(Read(path), line + line);
    EXPECT_TRUE(reports_.empty()) << "every block written";
}

// Display Seconds and Stored Hours: a number below 1, typed or left by an
// emptied field, is 1, shown and in force, however often it comes.
TEST_F(TemperaturesPageTest, SecondsAndHoursBelowOneBecomeOneShownAndInForce) {
    const TSettings& settings = form_->Model().Settings();
    const struct {
        const char* name;
        const int& setting;
        Qt::Key tab;
    } fields[] = {{"StoredSecondsSpinEdit", settings.StoredSeconds, Qt::Key_C},
                  {"StoredTemperatureHoursSpinEdit", settings.StoredHours, Qt::Key_T}};
    for (const auto& field : fields) {
        form_->FormKeyDown(field.tab, Qt::NoModifier);
        auto* spin = Find<QSpinBox>(QString::fromLatin1(field.name));
        auto* edit = spin->findChild<QLineEdit*>();
        spin->setValue(50);
        const struct {
            const char* typed;  // after selecting the whole text; "" empties it
            int shown;
        } steps[] = {{"0", 1}, {"0", 1}, {"00", 1}, {"7", 7}, {"0", 1}, {"", 1}, {"12", 12}};
        for (const auto& step : steps) {
            edit->selectAll();
            if (*step.typed == 0) {
                QTest::keyClick(spin, Qt::Key_Backspace);
            } else {
                QTest::keyClicks(spin, QString::fromLatin1(step.typed));
            }
            const std::string where = std::string(field.name) + " after '" + step.typed + "'";
            EXPECT_EQ(spin->text(), QString::number(step.shown)) << where;
            EXPECT_EQ(spin->value(), step.shown) << where;
            EXPECT_EQ(field.setting, step.shown) << where;
        }
    }
    EXPECT_EQ(form_->Model().Channels().StoredSeconds(), 12);
}

// Against the simulator: the offsets drift with the module temperatures, the
// bands fill with dots, and the log grows one line per block.
using TemperaturesPageSim = TWindowTest;

TEST_F(TemperaturesPageSim, DriftingOffsetsArePlottedAndLogged) {
    Launch();
    ASSERT_FALSE(HasFatalFailure());
    const std::string path = dir_.filePath(QStringLiteral("log.txt")).toStdString();
    form_->Prompts().SetSaveFileHook([&](const QString&) { return QString::fromStdString(path); });
    ASSERT_TRUE(WaitForBlocks(2));
    form_->FormKeyDown(Qt::Key_T, Qt::NoModifier);
    Find<QCheckBox>(QStringLiteral("LogToFile"))->click();
    const size_t first = Blocks();
    ASSERT_TRUE(WaitForBlocks(first + 12, 20s));
    const size_t logged = Blocks() - first;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    size_t lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        EXPECT_EQ(line.back(), '\r');
    }
    EXPECT_EQ(lines, logged);

    // Each module has its own temperature, and each band shows its dots.
    const auto& temperatures = form_->Model().ChannelTemperatures();
    EXPECT_NE(temperatures[0], temperatures[2]);
    TBandList* list = form_->TemperaturesPage()->StoredTemperaturesList();
    ASSERT_EQ(list->Count(), 3);
    const QImage screen = list->grab().toImage();
    for (int band = 0; band < 3; ++band) {
        int dots = 0;
        for (int y = band * list->ItemHeight(); y < (band + 1) * list->ItemHeight(); ++y) {
            for (int x = 0; x < list->ItemWidth(); ++x) {
                dots += screen.pixelColor(x, y) == DotColour ? 1 : 0;
            }
        }
        EXPECT_GE(dots, 15) << "band " << band;
    }
}
