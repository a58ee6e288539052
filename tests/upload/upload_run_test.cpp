// The upload procedure on a real link against the simulator's boot loader on a
// pseudo-terminal (and, for the failures the simulator does not make, a boot loader
// played by hand): every byte written at its address with the serial number kept,
// the serial-number-only run, progress, cancel, the missed ready line and serial
// number, the number asked for, and refusals that send nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "digitizer/digitizer.h"
#include "sim/simulator.h"
#include "support/hex_files.h"
#include "support/pty_pair.h"
#include "upload/upload_procedure.h"

using namespace std::chrono_literals;

namespace {

// The waits of a run, a quarter of their time, ending early as soon as what they wait
// for has happened. (The link sends a command queued on a silent line within a second,
// so the serial number's wait of 11 pauses is kept above that.)
constexpr double TimeScale = 0.25;

class TRecordingUser : public TUploadUser {
  public:
    bool ConfirmPowerCycle() override {
        ++Confirms;
        if (Confirm && PowerCycle) {
            PowerCycle();
        }
        return Confirm;
    }
    std::string AskSerialNumber() override {
        ++Asked;
        return Answer;
    }
    void ShowStatus(const std::string& text) override { Statuses.push_back(text); }
    void ShowProgress(int percent) override { Progress.push_back(percent); }
    void Refuse(const std::string& problem) override { Refusal = problem; }
    void SetSending(bool on) override { Sending = on; }
    bool CancelRequested() override { return CancelWhen && CancelWhen(); }

    bool Confirm = true;
    std::function<void()> PowerCycle;
    std::string Answer;
    std::function<bool()> CancelWhen;
    bool Sending = false;
    int Confirms = 0;
    int Asked = 0;
    std::vector<std::string> Statuses;
    std::vector<int> Progress;
    std::string Refusal;
};

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Inverted(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(~static_cast<uint8_t>(c)));
    }
    return bytes;
}

class TUploadRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("upload_run_test." + std::to_string(getpid()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        link_.reset();
        if (sim_) {
            sim_->Stop();
        }
        std::filesystem::remove_all(dir_);
    }

    // The simulator, powered up running its firmware, and a stopped link on its device.
    // Its line runs at `speed` times 19200 bit/s, which bounds how fast writes are
    // acknowledged.
    void StartSim(double speed = 20) {
        TSimConfig config;
        config.Speed = speed;
        config.RebootDelayMs = 200;
        config.SerialNumber = "  123456";
        sim_ = std::make_unique<TDigitizerSim>(config);
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        OpenLink(sim_->DevicePath());
        user_.PowerCycle = [this] { sim_->PowerCycle(); };
    }

    void OpenLink(const std::string& device) {
        link_ = std::make_unique<TDigitizer>(
            1, 19200, [](TDataBlock*) { return false; }, device);
        ASSERT_TRUE(link_->Port() && link_->Port()->IsOpen());
        link_->Stop();
    }

    TUploadEnd Run(const TFirmwareFiles& files) {
        TSleepWait wait(TimeScale);
        TFirmwareUpload upload(*link_, 1, user_, wait);
        const TUploadResult result = upload.Run(files);
        status_ = upload.Status();
        return result ? TUploadEnd::Completed : result.Error().End;
    }

    std::string File(const std::string& name, const std::string& text) const {
        const std::string path = (dir_ / name).string();
        WriteTextFile(path, text);
        return path;
    }

    // The letters of the commands the unit received, with "PC1" for the final "$PC".
    std::vector<std::string> Commands() const {
        std::vector<std::string> names;
        for (const TReceivedCommand& command : sim_->ReceivedCommands()) {
            const bool final =
                command.Name == "PC" && command.Argument.size() == 2 && command.Argument[1] == 1;
            names.push_back(final ? "PC1" : command.Name);
        }
        return names;
    }
    int Count(const std::string& name) const {
        const auto names = Commands();
        return static_cast<int>(std::count(names.begin(), names.end(), name));
    }

    void ExpectMemory(const TMemoryImage& image) const {
        int wrong = 0;
        for (const auto& [address, value] : image) {
            if (sim_->ReadMemory(address, 1)[0] != value && ++wrong < 5) {
                ADD_FAILURE() << "byte at 0x" << std::hex << address;
            }
        }
        EXPECT_EQ(wrong, 0);
    }

    void ExpectSerialNumber(const std::string& field) const {
        EXPECT_EQ(Text(sim_->ReadMemory(0x1FF0, 8)), field);
        EXPECT_EQ(sim_->ReadMemory(0x1FE0, 8), Inverted(field));
    }

    std::filesystem::path dir_;
    std::unique_ptr<TDigitizerSim> sim_;
    std::unique_ptr<TDigitizer> link_;
    TRecordingUser user_;
    std::string status_;
};

// A boot loader played by hand on a pseudo-terminal: "Ready." after the power cycle,
// echoes of "$BH", "$PC" and "$BR" (with "Ready." again), and for "$UR" the echo with
// `CaptureBytes` bytes, or nothing at all.
class THandPlayedLoader {
  public:
    bool AnswerRead = true;
    int CaptureBytes = 8;

    ~THandPlayedLoader() { Stop(); }
    const std::string& Device() const { return peer_.SlavePath(); }
    void PowerUp() {
        running_ = true;
        thread_ = std::thread([this] { Play(); });
    }
    void Stop() {
        running_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::string Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    void Play() {
        // The link opens the device right after the power cycle; what comes before it
        // opens is dropped.
        std::this_thread::sleep_for(300ms);
        peer_.Write("Ready.\r\n");
        std::vector<uint8_t> pending;
        while (running_) {
            const auto bytes = peer_.ReadFor(20ms);
            pending.insert(pending.end(), bytes.begin(), bytes.end());
            {
                std::lock_guard lock(mutex_);
                received_.append(bytes.begin(), bytes.end());
            }
            while (pending.size() >= 3) {
                const std::string letters(pending.begin(), pending.begin() + 3);
                const size_t length = letters == "$BH" ? 3 : letters == "$UR" ? 9 : 5;
                if (pending.size() < length) {
                    break;
                }
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(length));
                if (letters == "$UR") {
                    if (AnswerRead) {
                        peer_.Write("$UR" + std::string("AB123456").substr(0, CaptureBytes));
                    }
                } else {
                    peer_.Write(letters);
                }
                if (letters == "$BR") {
                    std::this_thread::sleep_for(50ms);
                    peer_.Write("Ready.\r\n");
                }
            }
        }
    }

    TPtyPeer peer_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    mutable std::mutex mutex_;
    std::string received_;
};

}  // namespace

TEST_F(TUploadRunTest, AWholeRunWritesEveryByteAndKeepsTheSerialNumber) {
    StartSim();
    TMemoryImage image;
    const std::string boot = File("boot.hex", MakeHexText(0x0000, 12, 32, 1, image));
    const std::string main = File("main.hex", MakeHexText(0x1FF00, 40, 16, 2, image));
    std::vector<uint8_t> filterBytes(0x100);
    for (size_t i = 0; i < filterBytes.size(); ++i) {
        filterBytes[i] = static_cast<uint8_t>(i * 7 + 3);
        image[0xF0000 + static_cast<uint32_t>(i)] = filterBytes[i];
    }
    const std::string filter = (dir_ / "filter.hex").string();
    ASSERT_TRUE(SrecCatHex(filterBytes, 0xF0000, filter));

    EXPECT_EQ(Run({boot, main, filter}), TUploadEnd::Completed);
    EXPECT_EQ(status_, CompletedText);
    ExpectMemory(image);
    ExpectSerialNumber("  123456");
    EXPECT_EQ(user_.Asked, 0);
    EXPECT_EQ(sim_->ReadMemory(0x180, 2), (std::vector<uint8_t>{0xFF, 0xFF}));

    // Every record, the two serial number writes, then the final command and the reboot.
    const auto names = Commands();
    EXPECT_EQ(Count("DR"), 12 + 40 + 8 + 2);
    const auto lastWrite = std::find(names.rbegin(), names.rend(), "DR").base();
    ASSERT_NE(lastWrite, names.end());
    EXPECT_EQ(std::vector<std::string>(lastWrite, names.end()),
              (std::vector<std::string>{"PC1", "BR"}));

    // The files shown follow one another in order, the bar only grows and ends full.
    std::vector<std::string> shown;
    for (const std::string& status : user_.Statuses) {
        if ((status == boot || status == main || status == filter) &&
            (shown.empty() || shown.back() != status)) {
            shown.push_back(status);
        }
    }
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(), [&](const auto& a, const auto& b) {
        auto rank = [&](const std::string& s) { return s == boot ? 0 : s == main ? 1 : 2; };
        return rank(a) < rank(b);
    }));
    EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()).size(), shown.size());
    EXPECT_TRUE(std::is_sorted(user_.Progress.begin(), user_.Progress.end()));
    ASSERT_FALSE(user_.Progress.empty());
    EXPECT_EQ(user_.Progress.front(), 0);
    EXPECT_EQ(user_.Progress.back(), 100);
    EXPECT_EQ(user_.Statuses.front(), WaitingBootText);
    EXPECT_EQ(user_.Statuses[1], ReadingSerialText);
    EXPECT_EQ(user_.Statuses[user_.Statuses.size() - 2], RebootingText);
    EXPECT_FALSE(link_->Port()) << "the link is stopped after the run";
}

TEST_F(TUploadRunTest, WithoutFilesOnlyTheSerialNumberIsWrittenBack) {
    StartSim();
    EXPECT_EQ(Run({"", "", ""}), TUploadEnd::Completed);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"BH", "BH", "BH", "BH", "BH", "PC", "UR", "BH",
                                                    "DR", "DR", "PC1", "BR"}));
    ExpectSerialNumber("  123456");
    EXPECT_EQ(user_.Progress.back(), 100);
}

TEST_F(TUploadRunTest, AnErasedSerialNumberIsAskedFor) {
    struct TCase {
        std::string answer;
        TUploadEnd result;
        std::string field;
    };
    const TCase cases[] = {
        {"ABC", TUploadEnd::Completed, "     ABC"},
        {"", TUploadEnd::NoSerialNumber, std::string(8, '\xFF')},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.answer);
        StartSim();
        sim_->WriteMemory(0x1FF0, std::vector<uint8_t>(8, 0xFF));
        user_ = TRecordingUser();
        user_.PowerCycle = [this] { sim_->PowerCycle(); };
        user_.Answer = c.answer;
        EXPECT_EQ(Run({"", "", ""}), c.result);
        EXPECT_EQ(user_.Asked, 1);
        EXPECT_EQ(Text(sim_->ReadMemory(0x1FF0, 8)), c.field);
        if (c.result == TUploadEnd::Completed) {
            EXPECT_EQ(sim_->ReadMemory(0x1FE0, 8), Inverted(c.field));
        } else {
            EXPECT_EQ(Count("DR"), 0);
            EXPECT_EQ(status_, ReadingSerialText);
        }
        link_.reset();
        sim_->Stop();
    }
}

TEST_F(TUploadRunTest, CancelDropsTheRestAndRebootsTheUnit) {
    // About 380 acknowledgements a second: the 1000 records take seconds, the cancel
    // comes after 20.
    StartSim(1);
    TMemoryImage image;
    const std::string main = File("main.hex", MakeHexText(0x4000, 1000, 16, 3, image));
    user_.CancelWhen = [this] { return user_.Sending && link_->PendingWrites() <= 1002 - 20; };

    EXPECT_EQ(Run({"", main, ""}), TUploadEnd::Cancelled);
    EXPECT_EQ(status_, CancelledText);
    const int written = Count("DR");
    EXPECT_GE(written, 20);
    EXPECT_LT(written, 1000);
    EXPECT_EQ(Count("PC1"), 0);
    EXPECT_EQ(Commands().back(), "BR");
    EXPECT_EQ(sim_->ReadMemory(0x4000, 2), (std::vector<uint8_t>{image[0x4000], image[0x4001]}));
    EXPECT_EQ(sim_->ReadMemory(0x4000 + 999 * 16, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    ExpectSerialNumber("  123456");
    EXPECT_FALSE(link_->Port());

    // Cancelled while waiting for the boot loader: nothing is sent at all.
    link_.reset();
    sim_->Stop();
    StartSim();
    user_.CancelWhen = [] { return true; };
    EXPECT_EQ(Run({"", main, ""}), TUploadEnd::Cancelled);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(TUploadRunTest, AMissedReadyLineEndsTheRunWithNothingSent) {
    StartSim();
    user_.PowerCycle = nullptr;  // the unit is never switched off and on
    EXPECT_EQ(Run({"", "", ""}), TUploadEnd::MissedBootReady);
    EXPECT_EQ(status_, MissedBootText);
    EXPECT_TRUE(Commands().empty());
    // The link is left running at 19200 bit/s, still waiting for the boot loader.
    ASSERT_TRUE(link_->Port());
    EXPECT_EQ(link_->Port()->BaudRate(), 19200u);
    EXPECT_TRUE(link_->BootWait());
}

TEST_F(TUploadRunTest, AMissedSerialNumberEndsTheRunBeforeAnyWrite) {
    struct TCase {
        const char* name;
        bool answerRead;
        int captureBytes;
    };
    for (const TCase c : {TCase{"no answer", false, 0}, TCase{"three bytes", true, 3}}) {
        SCOPED_TRACE(c.name);
        THandPlayedLoader loader;
        loader.AnswerRead = c.answerRead;
        loader.CaptureBytes = c.captureBytes;
        OpenLink(loader.Device());
        user_.PowerCycle = [&] { loader.PowerUp(); };
        TSleepWait wait(TimeScale);
        TFirmwareUpload upload(*link_, 1, user_, wait);
        EXPECT_EQ(upload.Run({"", "", ""}).Error().End, TUploadEnd::MissedSerialNumber);
        EXPECT_EQ(upload.Status(), MissedSerialText);
        EXPECT_EQ(loader.Received().find("$DR"), std::string::npos);
        EXPECT_EQ(user_.Asked, 0);

        // The unit is left in its boot loader; the tool reboots it back to its firmware.
        EXPECT_TRUE(upload.RebootUnit());
        EXPECT_NE(loader.Received().find("$BR"), std::string::npos);
        EXPECT_FALSE(link_->Port());
        loader.Stop();
        link_.reset();
    }
}

TEST_F(TUploadRunTest, ARefusedFileSendsNothingAndAsksNothing) {
    StartSim();
    TMemoryImage image;
    const std::string good = File("good.hex", MakeHexText(0, 4, 16, 4, image));
    const std::string bad =
        File("bad.hex", HexLine(0, 0, {1, 2}) + "\n" + HexLine(0x04, 0, {0, 2}) + "\n");
    const std::string missing = (dir_ / "missing.hex").string();
    struct TCase {
        TFirmwareFiles files;
        std::string refusal;
    };
    const TCase cases[] = {
        {{good, good, bad},
         "Filter Code file " + bad +
             ", line 2: extended linear address 0x0002: the data that follows would be written "
             "at the wrong addresses (only segment addresses move the data)"},
        {{good, missing, good},
         "Main Code file " + missing + ": cannot be opened: No such file or directory"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(Run(c.files), TUploadEnd::Refused);
        EXPECT_EQ(user_.Refusal, c.refusal);
    }
    EXPECT_EQ(user_.Confirms, 0);
    EXPECT_TRUE(user_.Statuses.empty());
    EXPECT_FALSE(link_->Port()) << "the link was never started";
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(Commands().empty());
}
