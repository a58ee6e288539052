// The data file dialog and recording in the window (FILES_FEATURE builds): every control with
// its caption, limit and tab order; the duration key filter and change rule; the serial number
// switch; the folder browser; DataFileButtonClick with OK only while stopped and the settings
// written at once; a failure at Stop reported without blocking; the recording's StationXML
// saved where the user chooses.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>

#include "datafile/data_file_dlg.h"
#include "settings/ini_file.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

namespace {

template <typename T>
T* Child(const QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

using DataFileWindowTest = TWindowTest;

}  // namespace

TEST(DataFileDlg, HasEveryControlWithItsCaptionLimitAndTabOrder) {
    TDataFileDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Data File"));
    EXPECT_EQ(Child<QGroupBox>(dialog, "GroupBox16")->title(), QStringLiteral("Details"));
    EXPECT_EQ(Child<QGroupBox>(dialog, "GroupBox1")->title(), QStringLiteral("Location"));
    EXPECT_EQ(Child<QCheckBox>(dialog, "EnableDataFiles")->text(), QStringLiteral("Enable"));
    EXPECT_EQ(Child<QLabel>(dialog, "Label56")->text(), QStringLiteral("File Duration (mins)"));
    EXPECT_EQ(Child<QLabel>(dialog, "Label57")->text(), QStringLiteral("Station"));
    EXPECT_EQ(Child<QLabel>(dialog, "Label58")->text(), QStringLiteral("Location"));
    EXPECT_EQ(Child<QLabel>(dialog, "Label59")->text(), QStringLiteral("Network"));
    EXPECT_EQ(Child<QCheckBox>(dialog, "UseSNum")->text(), QStringLiteral("Use Serial Number"));
    const auto* duration = Child<QSpinBox>(dialog, "DurationSpinEdit");
    EXPECT_EQ(duration->minimum(), 1);
    EXPECT_EQ(duration->maximum(), 60);
    EXPECT_EQ(duration->value(), 1);
    EXPECT_EQ(Child<QLineEdit>(dialog, "StationEdit")->maxLength(), 5);
    EXPECT_EQ(Child<QLineEdit>(dialog, "LocationEdit")->maxLength(), 2);
    EXPECT_EQ(Child<QLineEdit>(dialog, "NetworkEdit")->maxLength(), 2);
    EXPECT_EQ(Child<QPushButton>(dialog, "DataPathButton")->text(), QStringLiteral("..."));
    auto* ok = Child<QPushButton>(dialog, "OKButton");
    EXPECT_EQ(ok->text(), QStringLiteral("&OK"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(Child<QPushButton>(dialog, "CancelButton")->text(), QStringLiteral("&Cancel"));

    auto* xml = Child<QPushButton>(dialog, "StationXmlButton");
    EXPECT_EQ(xml->text(), QStringLiteral("Save StationXML..."));
    EXPECT_FALSE(xml->isEnabled());  // until the window gives it a document

    // Tab order: the directory group, OK, Cancel, Save StationXML, then "Details".
    const char* order[] = {"DataPathLocn",     "DataPathButton",   "OKButton",
                           "CancelButton",     "StationXmlButton", "EnableDataFiles",
                           "DurationSpinEdit", "StationEdit",      "UseSNum",
                           "LocationEdit",     "NetworkEdit",      "DataPathLocn"};
    const QWidget* at = Child<QWidget>(dialog, order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
        const QWidget* next = at->nextInFocusChain();
        // A spin box's own editor follows it in the chain.
        while (next != nullptr && ((next->focusPolicy() & Qt::TabFocus) == 0 ||
                                   qobject_cast<QSpinBox*>(next->parentWidget()) != nullptr)) {
            next = next->nextInFocusChain();
        }
        ASSERT_NE(next, nullptr);
        ASSERT_EQ(next->objectName().toStdString(), order[i]) << "after " << order[i - 1];
        at = next;
    }

    // "Details" above the directory group, the buttons side by side below; fixed size.
    dialog.show();
    const int detailsBottom = Child<QGroupBox>(dialog, "GroupBox16")->geometry().bottom();
    EXPECT_LT(detailsBottom, Child<QGroupBox>(dialog, "GroupBox1")->geometry().top());
    EXPECT_LT(Child<QGroupBox>(dialog, "GroupBox1")->geometry().bottom(), ok->geometry().top());
    EXPECT_EQ(ok->geometry().top(), Child<QPushButton>(dialog, "CancelButton")->geometry().top());
    // Save StationXML on the same row, to the left of OK.
    EXPECT_EQ(xml->geometry().top(), ok->geometry().top());
    EXPECT_LT(xml->geometry().right(), ok->geometry().left());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

TEST(DataFileDlg, SavesTheStationXmlWhereChosenAndReportsWhatFails) {
    QTemporaryDir dir;
    TDataFileDlg dialog;
    TFileSettings settings;
    settings.BaseDir = dir.path().toStdString();
    settings.Network = "NK";
    settings.Station = "STATN";
    dialog.SetOptions(settings);
    std::string document = "<FDSNStationXML/>\n";
    dialog.SetStationXml([&] { return document; });
    EXPECT_TRUE(dialog.StationXmlButton()->isEnabled());
    QString suggested, chosen = dir.filePath(QStringLiteral("out.xml"));
    dialog.SetXmlFileChooser([&](QWidget*, const QString&, const QString& start) {
        suggested = start;
        return chosen;
    });
    std::vector<QString> reports;
    dialog.SetFailureReport([&](QWidget*, const QString& text) { reports.push_back(text); });
    const auto read = [](const QString& path) {
        std::ifstream in(path.toStdString());
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };

    dialog.StationXmlButton()->click();
    EXPECT_EQ(suggested, dir.filePath(QStringLiteral("NK.STATN.xml")));
    EXPECT_EQ(read(chosen), document);
    EXPECT_TRUE(reports.empty());

    // Cancelled: nothing written. A folder that is not there: reported, nothing written.
    chosen.clear();
    document = "<other/>\n";
    dialog.StationXmlButton()->click();
    EXPECT_EQ(read(dir.filePath(QStringLiteral("out.xml"))), "<FDSNStationXML/>\n");
    chosen = dir.filePath(QStringLiteral("missing/out.xml"));
    dialog.StationXmlButton()->click();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("missing/out.xml"))) << reports[0].toStdString();
    // No document yet (no block): said, no file asked for.
    document.clear();
    suggested.clear();
    dialog.StationXmlButton()->click();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(suggested.isEmpty());
}

TEST(DataFileDlg, DurationTakesDigitsOnlyAndNeverFallsBelowOne) {
    TDataFileDlg dialog;
    dialog.show();
    QSpinBox* duration = dialog.DurationSpinEdit();
    EXPECT_FALSE(dialog.DurationSpinEditKeyPress(U'a'));
    EXPECT_FALSE(dialog.DurationSpinEditKeyPress(U'-'));
    EXPECT_FALSE(dialog.DurationSpinEditKeyPress(U' '));
    EXPECT_TRUE(dialog.DurationSpinEditKeyPress(U'7'));
    EXPECT_TRUE(dialog.DurationSpinEditKeyPress(U'\b'));

    duration->setValue(12);
    duration->setFocus();
    QTest::keyClick(duration, Qt::Key_A);
    EXPECT_EQ(duration->text(), QStringLiteral("12")) << "a letter changes nothing";
    // Emptied: 1.
    duration->findChild<QLineEdit*>()->clear();
    EXPECT_EQ(duration->text(), QStringLiteral("1"));
    EXPECT_EQ(duration->value(), 1);
    duration->findChild<QLineEdit*>()->selectAll();
    QTest::keyClicks(duration, QStringLiteral("45"));
    EXPECT_EQ(duration->value(), 45);
    QTest::keyClicks(duration, QStringLiteral("9"));
    EXPECT_LE(duration->value(), 60);

    // A typed 0 is 1, shown and taken back after OK, each time it is typed.
    TSettings back;
    for (const char* typed : {"0", "0", "00"}) {
        duration->setValue(30);
        duration->findChild<QLineEdit*>()->selectAll();
        QTest::keyClicks(duration, QString::fromLatin1(typed));
        EXPECT_EQ(duration->text(), QStringLiteral("1")) << typed;
        back.DurationMinutes = 30;
        dialog.TakeOptions(back);
        EXPECT_EQ(back.DurationMinutes, 1) << typed;
    }
    duration->setValue(1);
    duration->findChild<QLineEdit*>()->selectAll();
    QTest::keyClicks(duration, QStringLiteral("0"));
    EXPECT_EQ(duration->text(), QStringLiteral("1")) << "a 0 over a 1";
}

TEST(DataFileDlg, OptionsGoInAndComeBackWithOneTrailingSlashLess) {
    TSettings settings;
    settings.Enable = 1;
    settings.DurationMinutes = 7;
    settings.Station = "00012345";
    settings.UseSerialNumber = 1;
    settings.Location = "";
    settings.Network = "XY";
    settings.BaseDir = "";
    TDataFileDlg dialog;
    dialog.SetOptions(settings);
    EXPECT_TRUE(dialog.EnableDataFiles()->isChecked());
    EXPECT_EQ(dialog.DurationSpinEdit()->value(), 7);
    EXPECT_FALSE(dialog.StationEdit()->isEnabled()) << "the serial number is the station";
    EXPECT_EQ(dialog.StationEdit()->text(), QStringLiteral("00012")) << "the header's five";
    EXPECT_EQ(dialog.DataPathLocn()->text(), QString()) << "an empty base directory shows empty";
    dialog.UseSNum()->click();
    EXPECT_TRUE(dialog.StationEdit()->isEnabled()) << "unchecking enables the station at once";

    dialog.StationEdit()->setText(QStringLiteral("ST"));
    dialog.DataPathLocn()->setText(QStringLiteral("/data/seismic/"));
    TSettings back = settings;
    dialog.TakeOptions(back);
    EXPECT_EQ(back.UseSerialNumber, 0);
    EXPECT_EQ(back.Station, "ST");
    EXPECT_EQ(back.BaseDir, "/data/seismic");
    EXPECT_EQ(back.Location, "");
    EXPECT_EQ(back.Network, "XY");
    EXPECT_EQ(back.DurationMinutes, 7);
}

// The codes in and out of the dialog: printable ASCII without spaces, at most their SEED
// lengths, characters outside ASCII dropped whole (never a byte of one).
TEST(DataFileDlg, CodesAreKeptToTheirSeedLengthsInAscii) {
    const struct {
        const char* name;
        const char* station;
        const char* location;
        const char* network;
        const char* shownStation;
        const char* shownLocation;
        const char* shownNetwork;
    } cases[] = {
        {"as they are", "STA01", "00", "XX", "STA01", "00", "XX"},
        {"a serial number longer than five", "00012345", "", "NK", "00012", "", "NK"},
        {"accents dropped",
         "\xC3\x84"
         "B\xC3\x96"
         "C",
         "\xC3\x9C"
         "1",
         "N\xC3\xA9", "BC", "1", "N"},
        {"a cut that would split a character", "ABCD\xC3\x84", "0\xE2\x82\xAC", "XY", "ABCD", "0",
         "XY"},
        {"spaces and control characters", "A B\tC", " 1", "\x01Z", "ABC", "1", "Z"},
        {"longer codes", "STATION", "123", "ABC", "STATI", "12", "AB"},
    };
    for (const auto& c : cases) {
        TSettings settings;
        settings.Station = c.station;
        settings.Location = c.location;
        settings.Network = c.network;
        TDataFileDlg dialog;
        dialog.SetOptions(settings);
        EXPECT_EQ(dialog.StationEdit()->text().toStdString(), c.shownStation) << c.name;
        EXPECT_EQ(dialog.LocationEdit()->text().toStdString(), c.shownLocation) << c.name;
        EXPECT_EQ(dialog.NetworkEdit()->text().toStdString(), c.shownNetwork) << c.name;
        TSettings back;
        dialog.TakeOptions(back);
        EXPECT_EQ(back.Station, c.shownStation) << c.name;
        EXPECT_EQ(back.Location, c.shownLocation) << c.name;
        EXPECT_EQ(back.Network, c.shownNetwork) << c.name;
    }

    // Typed: only the printable ASCII characters reach the fields, up to their lengths; a
    // text set by the program is kept to the same when taken back.
    TDataFileDlg dialog;
    dialog.SetOptions(TSettings{});
    dialog.show();
    dialog.StationEdit()->clear();
    // Each character as a key press carrying its text (QTest's clicks know ASCII keys only).
    for (const QChar ch : QString::fromUtf8("\xC3\x84 b1\xE2\x82\xAC-_X9Z")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(dialog.StationEdit(), &press);
    }
    EXPECT_EQ(dialog.StationEdit()->text(), QStringLiteral("b1-_X"));
    dialog.NetworkEdit()->setText(QString::fromUtf8("Z\xC3\xA9ZZ"));  // the field keeps "Zé"
    TSettings back;
    dialog.TakeOptions(back);
    EXPECT_EQ(back.Station, "b1-_X");
    EXPECT_EQ(back.Network, "Z");
}

TEST(DataFileDlg, CodesAreTypedUpToTheirLengthAndEscapeCancels) {
    TSettings settings;
    settings.Station = "AB";
    settings.Location = "";
    TDataFileDlg dialog;
    dialog.SetOptions(settings);
    dialog.show();
    QTest::keyClicks(dialog.StationEdit(), QStringLiteral("CDEFGH"));
    EXPECT_EQ(dialog.StationEdit()->text(), QStringLiteral("ABCDE"));
    QTest::keyClicks(dialog.LocationEdit(), QStringLiteral("123"));
    EXPECT_EQ(dialog.LocationEdit()->text(), QStringLiteral("12"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), int(QDialog::Rejected));
}

TEST(DataFileDlg, TheFolderBrowserStartsAtTheEditAndACancelKeepsIt) {
    TDataFileDlg dialog;
    dialog.DataPathLocn()->setText(QStringLiteral("/var/data"));
    QString title, start;
    QString answer = QStringLiteral("/srv/recordings");
    dialog.SetFolderBrowser([&](QWidget* owner, const QString& t, const QString& s) {
        EXPECT_EQ(owner, &dialog);
        title = t;
        start = s;
        return answer;
    });
    dialog.DataPathButton()->click();
    EXPECT_EQ(title, QStringLiteral("Browse for Data File Location"));
    EXPECT_EQ(start, QStringLiteral("/var/data"));
    EXPECT_EQ(dialog.DataPathLocn()->text(), QStringLiteral("/srv/recordings"));
    answer.clear();
    dialog.DataPathButton()->click();
    EXPECT_EQ(start, QStringLiteral("/srv/recordings"));
    EXPECT_EQ(dialog.DataPathLocn()->text(), QStringLiteral("/srv/recordings"));
}

TEST(DataFileDlg, BrowseForFolderIsTheDirectoryDialog) {
    // Whatever modal dialog comes up is looked at and cancelled, so the call returns.
    QString title;
    bool directories = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
                directories = files->fileMode() == QFileDialog::Directory &&
                              files->testOption(QFileDialog::ShowDirsOnly);
            }
            title = dialog->windowTitle();
            dialog->reject();
        }
    });
    closer.start(20);
    EXPECT_EQ(
        BrowseForFolder(nullptr, QStringLiteral("Browse for Data File Location"), QDir::tempPath()),
        QString());
    EXPECT_EQ(title, QStringLiteral("Browse for Data File Location"));
    EXPECT_TRUE(directories);
}

TEST_F(DataFileWindowTest, OptionsChangeOnlyWhileStoppedAndAreSavedAtOnce) {
    OpenSilent();
    int shown = 0;
    bool okEnabled = true;
    form_->Prompts().SetDialogHook([&](QDialog& dialog) {
        auto& dlg = dynamic_cast<TDataFileDlg&>(dialog);
        ++shown;
        okEnabled = dlg.OKButton()->isEnabled();
        dlg.EnableDataFiles()->setChecked(true);
        dlg.StationEdit()->setText(QStringLiteral("KEST"));
        dlg.DataPathLocn()->setText(QStringLiteral("/data/rec/"));
        dlg.DurationSpinEdit()->setValue(15);
        return okEnabled ? int(QDialog::Accepted) : int(QDialog::Rejected);
    });
    // Monitoring: the dialog only shows the options.
    Click(QStringLiteral("DataFileButton"));
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(okEnabled);
    EXPECT_EQ(form_->Model().Settings().Enable, 0);
    EXPECT_EQ(form_->Model().Settings().Station, "STATN");

    // Stopped: OK takes the options over and writes the settings file at once.
    Click(QStringLiteral("StopButton"));
    Click(QStringLiteral("DataFileButton"));
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(okEnabled);
    EXPECT_EQ(form_->Model().Settings().Enable, 1);
    EXPECT_EQ(form_->Model().Settings().Station, "KEST");
    EXPECT_EQ(form_->Model().Settings().BaseDir, "/data/rec");
    TIniFile ini;
    ASSERT_TRUE(ini.Load(SettingsPath()));
    EXPECT_EQ(ini.Get("Files", "Enable"), "1");
    EXPECT_EQ(ini.Get("Files", "Station"), "KEST");
    EXPECT_EQ(ini.Get("Files", "BaseDir"), "/data/rec");
    EXPECT_EQ(ini.Get("Files", "DurationMinutes"), "15");

    // Cancel leaves everything as it was.
    form_->Prompts().SetDialogHook([](QDialog& dialog) {
        dynamic_cast<TDataFileDlg&>(dialog).StationEdit()->setText(QStringLiteral("NO"));
        return int(QDialog::Rejected);
    });
    Click(QStringLiteral("DataFileButton"));
    EXPECT_EQ(form_->Model().Settings().Station, "KEST");
}

// The window's document: the codes in force and the unit's format, its channels named as the
// period files name them, each with the digitizer's response.
TEST_F(DataFileWindowTest, TheStationXmlDescribesTheRecording) {
    WriteSettings("[Files]\nNetwork=QX\nStation=WIN1\nLocation=00\n");
    Launch();
    ASSERT_TRUE(WaitForBlocks(3, 10s));
    std::string saved;
    form_->Prompts().SetDialogHook([&](QDialog& dialog) {
        auto& dlg = dynamic_cast<TDataFileDlg&>(dialog);
        const QString path = dir_.filePath(QStringLiteral("window.xml"));
        dlg.SetXmlFileChooser([&](QWidget*, const QString&, const QString&) { return path; });
        dlg.StationXmlButton()->click();
        std::ifstream in(path.toStdString());
        saved.assign((std::istreambuf_iterator<char>(in)), {});
        return int(QDialog::Rejected);
    });
    Click(QStringLiteral("DataFileButton"));
    EXPECT_NE(saved.find("<Network code=\"QX\">"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<Station code=\"WIN1\""), std::string::npos);
    for (const char* code : {"P_0", "P_1", "P_2"}) {
        EXPECT_NE(saved.find(std::string("<Channel code=\"") + code + "\" locationCode=\"00\""),
                  std::string::npos)
            << code;
    }
    EXPECT_EQ(saved.find("P_3"), std::string::npos);  // three channels
    EXPECT_NE(saved.find("<SampleRate>100</SampleRate>"), std::string::npos);
}

// A base directory that cannot be made: one report at Stop, the window goes on.
TEST_F(DataFileWindowTest, AFailureAtStopIsReportedWithoutBlocking) {
    std::ofstream(dir_.filePath(QStringLiteral("plain")).toStdString()) << "x";
    WriteSettings("[Files]\nEnable=1\nDurationMinutes=60\nBaseDir=" +
                  dir_.filePath(QStringLiteral("plain/rec")).toStdString() + "\n");
    std::vector<QString> reports;
    Launch();
    form_->Prompts().SetReportSink([&](const QString& text) { reports.push_back(text); });
    ASSERT_TRUE(WaitForBlocks(3, 10s));
    Click(QStringLiteral("StopButton"));
    // The files are written on the recorder's thread; its report comes back to the window.
    QtWaitFor([&] { return !reports.empty(); }, 10s);
    QtRunFor(200ms);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].contains(QStringLiteral("plain/rec/")));
    EXPECT_TRUE(reports[0].contains(QStringLiteral("Not a directory")));
}

// The README's picture of the dialog, grabbed into KESTREL32_SCREENSHOTS (a directory) as
// screenshot-data-files.png.
TEST(Screenshots, DataFileDialog) {
    const QString dir = qEnvironmentVariable("KESTREL32_SCREENSHOTS");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set KESTREL32_SCREENSHOTS to a directory to take the picture";
    }
    TSettings settings;
    settings.Enable = 1;
    settings.DurationMinutes = 10;
    settings.Station = "STA01";
    settings.Location = "00";
    settings.Network = "XX";
    settings.BaseDir = "/home/station/recorderfiles";
    TDataFileDlg dialog;
    dialog.SetOptions(settings);
    dialog.show();
    QApplication::processEvents();
    EXPECT_TRUE(dialog.grab().save(dir + QStringLiteral("/screenshot-data-files.png")));
}
