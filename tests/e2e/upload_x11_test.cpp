// The upload dialog clicked and keyed through a real X server while it sends, as a user
// would: Xvfb, xdotool, the dialog in a process of its own (upload_dialog_program) with Qt's
// X11 platform and its default event dispatcher, on the digitizer-sim program. The firmware
// is a HEX file made by srec_cat. A click on Cancel in the middle of the sending must bring
// up the question while records are still going out; Yes reboots the unit (its journal shows
// the reboot command and the ready line after it) and "Upload Cancelled" shows. Then the
// same with Escape, and Close ends the dialog.
#include <signal.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <thread>

#include "sim/boot_loader.h"
#include "support/e2e_fixture.h"
#include "support/hex_files.h"

using namespace std::chrono_literals;

namespace {

bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " > /dev/null 2>&1").c_str()) == 0;
}

class UploadX11Test : public TEndToEndTest {
  protected:
    void SetUp() override {
        if (!OnPath("Xvfb") || !OnPath("xdotool")) {
            GTEST_SKIP() << "Xvfb and xdotool are needed (scripts/setup installs them)";
        }
        if (!OnPath("srec_cat")) {
            GTEST_SKIP() << "srec_cat is needed (package srecord)";
        }
        // Xvfb picks a free display and writes its number on the descriptor given.
        xvfb_ = std::make_unique<TChild>(
            std::vector<std::string>{"/usr/bin/env", "Xvfb", "-displayfd", "1", "-screen", "0",
                                     "1024x768x24", "-nolisten", "tcp"});
        const auto lines = xvfb_->ReadLines(1, 20s);
        ASSERT_FALSE(lines.empty()) << "Xvfb did not start: " << xvfb_->Errors();
        display_ = ":" + lines[0];
    }

    void TearDown() override {
        if (dialog_) {
            dialog_->Signal(SIGTERM);
            dialog_->Wait(5s);
        }
        if (xvfb_) {
            xvfb_->Signal(SIGTERM);
            xvfb_->Wait(5s);
        }
        TEndToEndTest::TearDown();
    }

    // xdotool on the display; its output lines.
    std::vector<std::string> Xdo(std::vector<std::string> args) const {
        args.insert(args.begin(), {"/usr/bin/env", "DISPLAY=" + display_, "xdotool"});
        TChild xdo(args);
        auto lines = xdo.ReadLines(100, 5s);
        EXPECT_EQ(xdo.Wait(10s), 0) << xdo.Errors();
        return lines;
    }

    // The dialog's lines, read up to the first that `match` takes; false when none came.
    bool WaitForLine(const std::function<bool(const std::string&)>& match,
                     std::chrono::milliseconds timeout = 30s) {
        const auto deadline = TClock::now() + timeout;
        while (TClock::now() < deadline) {
            const auto lines = dialog_->ReadLines(seen_ + 1, 100ms);
            for (; seen_ < lines.size(); ++seen_) {
                told_.push_back(lines[seen_]);
                if (match(lines[seen_])) {
                    ++seen_;
                    return true;
                }
            }
        }
        return false;
    }
    bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout = 30s) {
        return WaitForLine([&](const std::string& l) { return l == line; }, timeout);
    }

    // The window of the upload dialog: the only one named "Upload" while no message box is up.
    std::string DialogWindow() const {
        const auto windows = Xdo({"search", "--sync", "--onlyvisible", "--name", "^Upload$"});
        EXPECT_EQ(windows.size(), 1u);
        return windows.empty() ? std::string() : windows[0];
    }

    // A click in the middle of a button the dialog told the place of.
    void ClickButton(const std::string& window, const std::string& button) {
        std::map<std::string, int> at;
        for (const std::string& line : Xdo({"getwindowgeometry", "--shell", window})) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos && (line[0] == 'X' || line[0] == 'Y')) {
                at[line.substr(0, eq)] = std::stoi(line.substr(eq + 1));
            }
        }
        const std::vector<int>& place = places_[button];
        ASSERT_EQ(place.size(), 4u) << button;
        const int x = at["X"] + place[0] + place[2] / 2;
        const int y = at["Y"] + place[1] + place[3] / 2;
        Xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
    }

    // A key to the window that has the focus (the message box that has just come up, or
    // the dialog given).
    void Key(const std::string& key, const std::string& window = {}) {
        if (!window.empty()) {
            Xdo({"windowfocus", "--sync", window});
        }
        Xdo({"key", key});
    }

    // One upload, cancelled by `cancel` once a tenth of the records has gone out; the
    // question answered Yes.
    void UploadAndCancel(const std::string& window, const std::function<void()>& cancel) {
        const size_t from = told_.size();
        ClickButton(window, "UploadButton");
        ASSERT_TRUE(WaitForLine("box Power digitizer off and back on"));
        Key("Return");
        ASSERT_TRUE(WaitForLine([](const std::string& line) {
            return line.rfind("progress ", 0) == 0 && std::stoi(line.substr(9)) >= 10;
        })) << "no progress";
        cancel();
        ASSERT_TRUE(WaitForLine("box Cancel Upload")) << "the question did not come";
        EXPECT_TRUE(std::find(told_.begin() + static_cast<long>(from), told_.end(),
                              "progress 100") == told_.end())
            << "the question came only when every record had been sent";
        Key("Return");  // Yes, the default
        ASSERT_TRUE(WaitForLine("status Upload Cancelled"));
        ASSERT_TRUE(WaitForLine("action &Close")) << "the run is over";
    }

    std::unique_ptr<TChild> xvfb_;
    std::string display_;
    std::unique_ptr<TChild> dialog_;
    size_t seen_ = 0;
    std::vector<std::string> told_;
    std::map<std::string, std::vector<int>> places_;
};

TEST_F(UploadX11Test, CancelAndEscapeWhileSendingAskAtOnceAndTheUnitIsRebooted) {
    // At 19200 bit/s the unit acknowledges a few hundred writes a second: 3000 records of
    // 32 bytes take several seconds.
    const std::string memory = Path("unit.bin");
    StartSim({"--speed", "1", "--memory", memory});
    std::vector<uint8_t> image(3000 * 32);
    for (size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    const std::string hex = Path("main.hex");
    ASSERT_TRUE(SrecCatHex(image, 0x20000, hex));

    dialog_ = std::make_unique<TChild>(std::vector<std::string>{
        "/usr/bin/env", "DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb", UPLOAD_DIALOG_PROGRAM,
        LinkPath(), std::to_string(Sim().Pid()), hex});
    for (const char* button : {"UploadButton", "ActionButton"}) {
        ASSERT_TRUE(WaitForLine([&](const std::string& line) {
            if (line.rfind(std::string(button) + " ", 0) != 0) {
                return false;
            }
            std::istringstream in(line.substr(std::strlen(button)));
            places_[button] = std::vector<int>(4);
            for (int& value : places_[button]) {
                in >> value;
            }
            return true;
        })) << "the dialog did not start: "
            << dialog_->Errors();
    }
    const std::string window = DialogWindow();
    ASSERT_FALSE(window.empty());

    UploadAndCancel(window, [&] { ClickButton(window, "ActionButton"); });
    if (HasFatalFailure()) {
        return;
    }
    TSimJournalRead journal = Journal();
    EXPECT_EQ(journal.CommandCount("BR"), 1) << "the unit was rebooted";
    EXPECT_EQ(journal.CommandCount("PC"), 1) << "the final command follows a complete transfer";
    const int written = journal.CommandCount("DR");
    EXPECT_LT(written, 3000 + 2);
    {
        // The boot loader's ready line after the reboot command.
        const auto& lines = journal.Lines();
        auto reboot = std::find_if(lines.begin(), lines.end(), [](const TJournalLine& line) {
            return line.Words.size() >= 2 && line.Words[0] == "command" && line.Words[1] == "BR";
        });
        ASSERT_NE(reboot, lines.end());
        EXPECT_NE(std::find_if(reboot, lines.end(),
                               [](const TJournalLine& line) {
                                   return !line.Words.empty() && line.Words[0] == "ready";
                               }),
                  lines.end());
    }

    UploadAndCancel(window, [&] { Key("Escape", window); });
    if (HasFatalFailure()) {
        return;
    }
    journal = Journal();
    EXPECT_EQ(journal.CommandCount("BR"), 2);
    EXPECT_EQ(journal.CommandCount("PC"), 2);
    EXPECT_LT(journal.CommandCount("DR"), written + 3000 + 2);

    ClickButton(window, "ActionButton");
    EXPECT_TRUE(WaitForLine("closed")) << "Close ends the dialog";
    EXPECT_EQ(dialog_->Wait(10s), 0) << dialog_->Errors();
}

}  // namespace
