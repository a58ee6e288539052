// The upload dialog: its controls and captions, the browse buttons, and runs through
// the main window against the simulator — a whole upload after which Start monitors
// again, Escape and Cancel while sending, a refused file, the serial number asked in
// the input box, and the window closed in the middle of an upload.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "digitizer/digitizer.h"
#include "main/link_session.h"
#include "support/hex_files.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"
#include "upload/upload_dlg.h"

using namespace std::chrono_literals;

namespace {

struct TAsked {
    QMessageBox::Icon Icon;
    QString Caption;
    QString Text;
};

class UploadWindowTest : public TWindowTest {
  protected:
    // `speed` frames a second; the line runs at `speed` times 19200 bit/s, which bounds
    // how fast writes are acknowledged.
    static TSimConfig UploadConfig(double speed = 5) {
        TSimConfig config = SimConfig();
        config.Speed = speed;
        config.RebootDelayMs = 200;
        config.SerialNumber = "  123456";
        return config;
    }

    // The window monitoring the simulator, then stopped.
    void LaunchStopped(double speed = 5) {
        Launch(UploadConfig(speed));
        ASSERT_TRUE(WaitForBlocks(2));
        EXPECT_FALSE(Find<QPushButton>(QStringLiteral("UploadButton"))->isEnabled());
        Click(QStringLiteral("StopButton"));
        ASSERT_TRUE(Find<QPushButton>(QStringLiteral("UploadButton"))->isEnabled());
    }

    std::string HexFile(const std::string& name, const std::string& text) const {
        const std::string path = dir_.filePath(QString::fromStdString(name)).toStdString();
        WriteTextFile(path, text);
        return path;
    }

    // Opens the dialog from the main window's Upload button; `work` drives it.
    void WithDialog(const std::function<void(TUploadDlg&)>& work) {
        bool shown = false;
        form_->Prompts().SetDialogHook([&](QDialog& dialog) {
            auto* upload = qobject_cast<TUploadDlg*>(&dialog);
            EXPECT_NE(upload, nullptr);
            if (upload == nullptr) {
                return int(QDialog::Rejected);
            }
            shown = true;
            upload->SetTimeScale(0.25);
            upload->SetMessageBox([this](QWidget*, QMessageBox::Icon icon, const QString& caption,
                                         const QString& text, QMessageBox::StandardButtons) {
                asked_.push_back({icon, caption, text});
                if (icon == QMessageBox::Question) {
                    const bool yes = !cancelAnswers_.empty() && cancelAnswers_.front();
                    if (!cancelAnswers_.empty()) {
                        cancelAnswers_.erase(cancelAnswers_.begin());
                    }
                    return yes ? QMessageBox::Yes : QMessageBox::No;
                }
                return QMessageBox::Ok;
            });
            upload->show();
            work(*upload);
            return upload->result();
        });
        Click(QStringLiteral("UploadButton"));
        EXPECT_TRUE(shown);
    }

    std::vector<TAsked> asked_;
    std::vector<bool> cancelAnswers_;
};

TEST(UploadDlg, HasEveryControlWithItsCaptionAndBrowsesForFiles) {
    TPtyPeer peer;
    TDigitizer link(1, 19200, nullptr, peer.SlavePath());
    link.Stop();
    TUploadDlg dialog(link, 1);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Upload"));
    auto child = [&](const char* name) {
        QWidget* widget = dialog.findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    };
    EXPECT_EQ(qobject_cast<QGroupBox*>(child("GroupBox1"))->title(), QStringLiteral("Files"));
    EXPECT_EQ(qobject_cast<QLabel*>(child("Label1"))->text(), QStringLiteral("Boot Code"));
    EXPECT_EQ(qobject_cast<QLabel*>(child("Label2"))->text(), QStringLiteral("Main Code"));
    EXPECT_EQ(qobject_cast<QLabel*>(child("Label3"))->text(), QStringLiteral("Filter Code"));
    for (const char* edit : {"BootFile", "MainFile", "FilterFile"}) {
        EXPECT_TRUE(qobject_cast<QLineEdit*>(child(edit))->text().isEmpty());
    }
    for (const char* button : {"BrowseBootButton", "BrowseMainButton", "BrowseFilterButton"}) {
        EXPECT_EQ(qobject_cast<QPushButton*>(child(button))->text(), QStringLiteral("..."));
    }
    EXPECT_TRUE(qobject_cast<QLabel*>(child("Status"))->text().isEmpty());
    auto* bar = qobject_cast<QProgressBar*>(child("ProgressBar"));
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    auto* upload = qobject_cast<QPushButton*>(child("UploadButton"));
    EXPECT_EQ(upload->text(), QStringLiteral("&Upload"));
    EXPECT_TRUE(upload->isDefault());
    EXPECT_EQ(qobject_cast<QPushButton*>(child("ActionButton"))->text(), QStringLiteral("&Close"));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a fixed size";
    EXPECT_EQ(HexFileFilters(), (QStringList{QStringLiteral("Intel Hex Files (*.hex)"),
                                             QStringLiteral("All Files (*)")}));

    // Each browse button asks with its title, starting from the field's file; Cancel
    // leaves the field alone.
    std::vector<std::pair<QString, QString>> browsed;
    QString pick = QStringLiteral("/firmware/boot.hex");
    dialog.SetFileBrowser([&](QWidget*, const QString& title, const QString& start) {
        browsed.emplace_back(title, start);
        return pick;
    });
    QTest::mouseClick(qobject_cast<QPushButton*>(child("BrowseBootButton")), Qt::LeftButton);
    EXPECT_EQ(dialog.BootFile()->text(), pick);
    pick = QStringLiteral("/firmware/main.hex");
    dialog.MainFile()->setText(QStringLiteral("/old/main.hex"));
    QTest::mouseClick(qobject_cast<QPushButton*>(child("BrowseMainButton")), Qt::LeftButton);
    EXPECT_EQ(dialog.MainFile()->text(), pick);
    pick.clear();
    QTest::mouseClick(qobject_cast<QPushButton*>(child("BrowseFilterButton")), Qt::LeftButton);
    EXPECT_TRUE(dialog.FilterFile()->text().isEmpty());
    EXPECT_EQ(browsed,
              (std::vector<std::pair<QString, QString>>{
                  {QStringLiteral("Select the boot code file"), QString()},
                  {QStringLiteral("Select the main code file"), QStringLiteral("/old/main.hex")},
                  {QStringLiteral("Select the filter code file"), QString()}}));

    // Idle, Close (and Escape) close the dialog.
    dialog.show();
    QTest::mouseClick(dialog.ActionButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(UploadWindowTest, UploadsThroughTheWindowAndStartMonitorsAgain) {
    LaunchStopped();
    TMemoryImage image;
    const std::string boot = HexFile("boot.hex", MakeHexText(0x0000, 8, 32, 1, image));
    const std::string main = HexFile("main.hex", MakeHexText(0x1FF00, 24, 16, 2, image));
    const std::string filter = HexFile("filter.hex", MakeHexText(0xF0000, 6, 32, 3, image));
    bool closed = false;
    WithDialog([&](TUploadDlg& dialog) {
        dialog.BootFile()->setText(QString::fromStdString(boot));
        dialog.MainFile()->setText(QString::fromStdString(main));
        dialog.FilterFile()->setText(QString::fromStdString(filter));
        QTest::mouseClick(dialog.UploadButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Upload Successfully Completed"));
        EXPECT_EQ(dialog.ProgressBar()->value(), 100);
        EXPECT_EQ(dialog.ActionButton()->text(), QStringLiteral("&Close"));
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is gone";
        // The README's picture of the dialog after a run, when KESTREL32_SCREENSHOTS names
        // a directory.
        const QString screenshots = qEnvironmentVariable("KESTREL32_SCREENSHOTS");
        if (!screenshots.isEmpty()) {
            EXPECT_TRUE(dialog.grab().save(screenshots + QStringLiteral("/screenshot-upload.png")));
        }
        QTest::keyClick(&dialog, Qt::Key_Escape);
        closed = !dialog.isVisible();
    });
    EXPECT_TRUE(closed) << "Escape after the run closes the dialog";
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_EQ(asked_[0].Icon, QMessageBox::Information);
    EXPECT_EQ(asked_[0].Caption, QStringLiteral("Upload"));
    EXPECT_EQ(asked_[0].Text, QStringLiteral("Power digitizer off and back on"));

    int wrong = 0;
    for (const auto& [address, value] : image) {
        wrong += sim_->ReadMemory(address, 1)[0] != value ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0);
    const auto serial = sim_->ReadMemory(0x1FF0, 8);
    EXPECT_EQ(std::string(serial.begin(), serial.end()), "  123456");
    EXPECT_EQ(Received("DR"), 8 + 24 + 6 + 2);

    // The link is left stopped and framing: once the unit runs its new firmware, Start
    // monitors again.
    EXPECT_EQ(form_->Session().Port(), nullptr);
    EXPECT_FALSE(form_->Link()->BootWait());
    ASSERT_TRUE(QtWaitFor([&] { return !sim_->State().InBootLoader; }, 10s));
    const size_t before = Blocks();
    Click(QStringLiteral("StartButton"));
    EXPECT_TRUE(WaitForBlocks(before + 3, 15s)) << "no blocks after Start";
}

TEST_F(UploadWindowTest, EscapeWhileSendingAsksAndCancelStopsTheUpload) {
    LaunchStopped(1);  // about 380 writes acknowledged a second
    TMemoryImage image;
    const std::string main = HexFile("main.hex", MakeHexText(0x4000, 1000, 16, 4, image));
    cancelAnswers_ = {false, true};
    QString status;
    WithDialog([&](TUploadDlg& dialog) {
        dialog.MainFile()->setText(QString::fromStdString(main));
        // While records go out: Escape first (answered No), then Cancel (answered Yes).
        int presses = 0;
        QObject::connect(dialog.ProgressBar(), &QProgressBar::valueChanged, &dialog, [&](int) {
            if (presses == 0) {
                QCoreApplication::postEvent(
                    &dialog, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
            } else if (presses == 1) {
                EXPECT_EQ(dialog.ActionButton()->text(), QStringLiteral("&Cancel"));
                QMetaObject::invokeMethod(dialog.ActionButton(), &QPushButton::click,
                                          Qt::QueuedConnection);
            }
            ++presses;
        });
        QTest::mouseClick(dialog.UploadButton(), Qt::LeftButton);
        status = dialog.Status()->text();
        EXPECT_EQ(dialog.ActionButton()->text(), QStringLiteral("&Close"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(status, QStringLiteral("Upload Cancelled"));
    ASSERT_EQ(asked_.size(), 3u);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(asked_[i].Icon, QMessageBox::Question);
        EXPECT_EQ(asked_[i].Caption, QStringLiteral("Upload"));
        EXPECT_EQ(asked_[i].Text, QStringLiteral("Cancel Upload"));
    }
    EXPECT_LT(Received("DR"), 1000);
    EXPECT_EQ(Received("PC"), 1) << "the final command follows a complete transfer only";
    EXPECT_GE(Received("BR"), 1);
}

TEST_F(UploadWindowTest, ARefusedFileSendsNothingAndAnErasedSerialNumberIsAskedFor) {
    LaunchStopped();
    const std::string bad = HexFile("bad.hex", HexLine(0, 0x10, {1, 2, 3}) + "\n");
    std::vector<std::pair<QString, QString>> inputs;
    const size_t commandsBefore = sim_->ReceivedCommands().size();
    WithDialog([&](TUploadDlg& dialog) {
        dialog.MainFile()->setText(QString::fromStdString(bad));
        QTest::mouseClick(dialog.UploadButton(), Qt::LeftButton);
        const QString refusal = QString::fromStdString(
            "Main Code file " + bad +
            ", line 1: data record of an odd number of bytes (3): memory is written in 16-bit "
            "words");
        EXPECT_EQ(dialog.Status()->text(), refusal);
        ASSERT_EQ(asked_.size(), 1u);
        EXPECT_EQ(asked_[0].Icon, QMessageBox::Warning);
        EXPECT_EQ(asked_[0].Text, refusal + "\n\nNothing was sent to the digitizer.");
        QtRunFor(200ms);
        EXPECT_EQ(sim_->ReceivedCommands().size(), commandsBefore);

        // Without files, on a unit whose serial number area is erased.
        sim_->WriteMemory(0x1FF0, std::vector<uint8_t>(8, 0xFF));
        dialog.MainFile()->clear();
        dialog.SetInputBox([&](QWidget*, const QString& caption, const QString& prompt) {
            inputs.emplace_back(caption, prompt);
            return std::optional<QString>(QStringLiteral("ABC"));
        });
        QTest::mouseClick(dialog.UploadButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Upload Successfully Completed"));
        QTest::mouseClick(dialog.ActionButton(), Qt::LeftButton);
    });
    EXPECT_EQ(inputs, (std::vector<std::pair<QString, QString>>{
                          {QStringLiteral("Upload"), QStringLiteral("Serial Number")}}));
    const auto serial = sim_->ReadMemory(0x1FF0, 8);
    EXPECT_EQ(std::string(serial.begin(), serial.end()), "     ABC");
}

TEST_F(UploadWindowTest, AfterAMissedReadyLineStartMonitorsAgain) {
    LaunchStopped();
    QString status;
    WithDialog([&](TUploadDlg& dialog) {
        dialog.SetPowerCycle(nullptr);  // the unit is never switched off and on
        QTest::mouseClick(dialog.UploadButton(), Qt::LeftButton);
        status = dialog.Status()->text();
        QTest::mouseClick(dialog.ActionButton(), Qt::LeftButton);
    });
    EXPECT_EQ(status, QStringLiteral("Missed Boot Ready"));
    // The run left the link waiting for the boot loader; the window stops it and leaves
    // it framing again.
    EXPECT_EQ(form_->Session().Port(), nullptr);
    const size_t before = Blocks();
    Click(QStringLiteral("StartButton"));
    EXPECT_TRUE(WaitForBlocks(before + 3, 10s)) << "no blocks after Start";
}

TEST_F(UploadWindowTest, ClosingTheWindowCancelsTheUploadFirst) {
    LaunchStopped(1);
    TMemoryImage image;
    const std::string main = HexFile("main.hex", MakeHexText(0x4000, 1000, 16, 5, image));
    QString status;
    WithDialog([&](TUploadDlg& dialog) {
        dialog.MainFile()->setText(QString::fromStdString(main));
        bool closing = false;
        QObject::connect(dialog.ProgressBar(), &QProgressBar::valueChanged, &dialog, [&](int) {
            if (!closing) {
                closing = true;
                QMetaObject::invokeMethod(form_.get(), &QWidget::close, Qt::QueuedConnection);
            }
        });
        QTest::mouseClick(dialog.UploadButton(), Qt::LeftButton);
        status = dialog.Status()->text();
        EXPECT_FALSE(dialog.isVisible()) << "the dialog closes after the run";
    });
    EXPECT_EQ(status, QStringLiteral("Upload Cancelled"));
    EXPECT_LT(Received("DR"), 1000);
    EXPECT_TRUE(QtWaitFor([&] { return !form_->isVisible(); }, 5s)) << "then the window closes";
}

}  // namespace
