// A firmware upload through the dialog, then monitoring again on the same port: the window,
// built as the program builds it, on the digitizer-sim program, which keeps its memory in a
// file. The user switches the unit off and on when the dialog asks; every other echo the
// unit sends comes in two parts, which the program does not recognise as an echo, so each
// write is acknowledged only by an echo that arrives whole. Then the cable pulled while the
// records go out: the run ends at once and says at which record.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <iterator>

#include "sim/boot_loader.h"
#include "support/e2e_fixture.h"
#include "support/hex_files.h"
#include "upload/upload_dlg.h"

using namespace std::chrono_literals;

namespace {

using UploadEndToEnd = TEndToEndTest;

TEST_F(UploadEndToEnd, UploadThroughTheDialogThenMonitorAgainOnTheSamePort) {
    const std::string memory = Path("unit.bin");
    WriteSettings("[Comms]\nPort=1\nBaud=19200\n");
    StartSim({"--speed", "2", "--memory", memory, "--fault", "split-echo=0.3", "--seed", "5"});
    OpenWindow();
    ASSERT_TRUE(WaitUntil([&] { return Received().size() >= 2; }, 20s));
    Click("StopButton");
    ASSERT_TRUE(Find<QPushButton>("UploadButton")->isEnabled());

    TMemoryImage image;
    const std::string boot = Path("boot.hex"), main = Path("main.hex"), filter = Path("filter.hex");
    WriteTextFile(boot, MakeHexText(0x0000, 8, 32, 1, image));
    WriteTextFile(main, MakeHexText(0x1FF00, 24, 16, 2, image));
    WriteTextFile(filter, MakeHexText(0xF0000, 6, 32, 3, image));
    std::vector<QString> told;
    QString status;
    Window().Prompts().SetDialogHook([&](QDialog& dialog) {
        auto* upload = qobject_cast<TUploadDlg*>(&dialog);
        if (upload == nullptr) {
            ADD_FAILURE() << "not the upload dialog";
            return int(QDialog::Rejected);
        }
        upload->SetMessageBox([&](QWidget*, QMessageBox::Icon, const QString&, const QString& text,
                                  QMessageBox::StandardButtons) {
            told.push_back(text);
            if (text == QStringLiteral("Power digitizer off and back on")) {
                PowerCycleSim();
            }
            return QMessageBox::Ok;
        });
        upload->show();
        upload->BootFile()->setText(QString::fromStdString(boot));
        upload->MainFile()->setText(QString::fromStdString(main));
        upload->FilterFile()->setText(QString::fromStdString(filter));
        QTest::mouseClick(upload->UploadButton(), Qt::LeftButton);
        status = upload->Status()->text();
        QTest::mouseClick(upload->ActionButton(), Qt::LeftButton);
        return upload->result();
    });
    Click("UploadButton");
    EXPECT_EQ(status, QStringLiteral("Upload Successfully Completed"));
    EXPECT_EQ(told, std::vector<QString>{QStringLiteral("Power digitizer off and back on")});

    // Once the unit runs its new firmware again, Start monitors on the same device.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto lines = Journal().Lines();
            return !lines.empty() && lines.back().Words[0] == "frame";
        },
        20s));
    const size_t before = Received().size();
    Click("StartButton");
    EXPECT_TRUE(WaitUntil([&] { return Received().size() >= before + 3; }, 30s))
        << "no blocks after Start";

    // What the unit holds: every byte of the three files, and its own serial number, in the
    // memory file it saved at the reboot that ended the upload.
    const TSimJournalRead journal = Journal();
    EXPECT_GE(journal.SplitEchoCount(), 3);
    EXPECT_EQ(journal.CommandCount("PC"), 2) << "$PC0 before the records, $PC1 after";
    Window().close();
    StopSim();
    std::ifstream in(memory, std::ios::binary);
    const std::vector<uint8_t> saved((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(saved.size(), size_t(MemorySize));
    int wrong = 0;
    for (const auto& [address, value] : image) {
        wrong += saved[address] != value ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0) << "of " << image.size() << " bytes";
    EXPECT_EQ(
        std::string(saved.begin() + SerialNumberAddress, saved.begin() + SerialNumberAddress + 8),
        "00012345");
}

TEST_F(UploadEndToEnd, TheCablePulledWhileSendingEndsTheRunAndSaysWhere) {
    // 6000 records at a few hundred a second; the device goes at the unit's twelfth second,
    // while they are going out, and comes back under another path.
    WriteSettings("[Comms]\nPort=1\nBaud=19200\n");
    StartSim({"--speed", "1", "--memory", Path("unit.bin"), "--at", "12:reopen"});
    OpenWindow();
    ASSERT_TRUE(WaitUntil([&] { return Received().size() >= 2; }, 20s));
    Click("StopButton");

    TMemoryImage image;
    const std::string main = Path("main.hex");
    WriteTextFile(main, MakeHexText(0x4000, 6000, 16, 7, image));
    std::vector<std::pair<QMessageBox::Icon, QString>> told;
    QString status, action;
    bool actionEnabled = false;
    Window().Prompts().SetDialogHook([&](QDialog& dialog) {
        auto* upload = qobject_cast<TUploadDlg*>(&dialog);
        if (upload == nullptr) {
            ADD_FAILURE() << "not the upload dialog";
            return int(QDialog::Rejected);
        }
        upload->SetMessageBox([&](QWidget*, QMessageBox::Icon icon, const QString&,
                                  const QString& text, QMessageBox::StandardButtons) {
            told.emplace_back(icon, text);
            if (text == QStringLiteral("Power digitizer off and back on")) {
                PowerCycleSim();
            }
            return QMessageBox::Ok;
        });
        upload->show();
        upload->MainFile()->setText(QString::fromStdString(main));
        // A run that goes on writing to the dead device is ended, so that the test fails
        // instead of waiting for ever.
        QTimer::singleShot(90s, upload, [upload] { upload->CancelAndClose(); });
        QTest::mouseClick(upload->UploadButton(), Qt::LeftButton);
        status = upload->Status()->text();
        action = upload->ActionButton()->text();
        actionEnabled = upload->ActionButton()->isEnabled();
        QTest::mouseClick(upload->ActionButton(), Qt::LeftButton);
        return upload->result();
    });
    Click("UploadButton");

    const QRegularExpression lost(QStringLiteral(
        "^lost the digitizer at record (\\d+) of 6002; the unit is in its boot loader: power it "
        "off and on and upload again$"));
    const QRegularExpressionMatch match = lost.match(status);
    ASSERT_TRUE(match.hasMatch()) << status.toStdString();
    const int record = match.captured(1).toInt();
    EXPECT_GT(record, 1);
    EXPECT_LT(record, 6002);
    EXPECT_EQ(action, QStringLiteral("&Close"));
    EXPECT_TRUE(actionEnabled);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told[1].first, QMessageBox::Warning);
    EXPECT_EQ(told[1].second, QStringLiteral("L") + status.mid(1))
        << "the user is told in a box too";

    const TSimJournalRead journal = Journal();
    EXPECT_EQ(journal.CommandCount("BR"), 0) << "nothing after the loss";
    EXPECT_EQ(journal.CommandCount("PC"), 1) << "the final command was not sent";
    EXPECT_LT(journal.CommandCount("DR"), 6002);
}

}  // namespace
