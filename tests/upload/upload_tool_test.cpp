// digitizer-upload against digitizer-sim, each its own process: the simulator's memory
// file and journal show what the upload wrote and sent. A whole run, a refused file,
// Ctrl+C while sending (twice: the reboot still happens; three times: the program ends at
// once and says so), the cable pulled while sending, the serial number given on the
// command line, the device argument and the ports listed; the terminal's progress bar.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <thread>

#include "digitizer/port_list.h"

#include "sim/boot_loader.h"
#include "support/child_process.h"
#include "support/hex_files.h"
#include "support/pty_pair.h"
#include "support/sim_journal.h"
#include "uploadtool/terminal_user.h"

using namespace std::chrono_literals;

namespace {

class TUploadToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("upload_tool_test." + std::to_string(getpid()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        memory_ = (dir_ / "memory.bin").string();
    }
    void TearDown() override {
        if (sim_) {
            sim_->Signal(SIGTERM);
            sim_->Wait();
        }
        std::filesystem::remove_all(dir_);
    }

    // The simulator with its memory in memory_; returns its device. Its line runs at
    // `speed` times 19200 bit/s, which bounds how fast writes are acknowledged.
    std::string StartSim(const char* speed = "20", std::vector<std::string> more = {}) {
        std::vector<std::string> args{DIGITIZER_SIM, "--speed",   speed,    "--memory",
                                      memory_,       "--journal", Journal()};
        args.insert(args.end(), more.begin(), more.end());
        sim_ = std::make_unique<TChild>(args);
        const auto lines = sim_->ReadLines(1, 5s);
        EXPECT_EQ(lines.size(), 1u) << sim_->Errors();
        return lines.empty() ? std::string() : lines[0];
    }

    std::string File(const std::string& name, const std::string& text) const {
        const std::string path = (dir_ / name).string();
        WriteTextFile(path, text);
        return path;
    }

    // Reads the tool's output until a line satisfies `match`.
    static bool WaitForLine(TChild& tool, const std::function<bool(const std::string&)>& match,
                            std::chrono::milliseconds timeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        size_t seen = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto lines = tool.ReadLines(seen + 1, 100ms);
            for (; seen < lines.size(); ++seen) {
                if (match(lines[seen])) {
                    return true;
                }
            }
        }
        return false;
    }

    // Runs the tool on the simulator, switching the unit off and on at the prompt.
    int Upload(TChild& tool) {
        EXPECT_TRUE(WaitForLine(tool, [](const std::string& line) {
            return line == "Power digitizer off and back on";
        })) << tool.Errors();
        sim_->Signal(SIGUSR1);
        return tool.Wait(60s);
    }

    std::string Journal() const { return (dir_ / "journal.txt").string(); }

    // Runs the tool on the simulator until its progress shows that records are going out.
    std::unique_ptr<TChild> UploadUntilSending(const std::string& device, const std::string& main) {
        auto tool = std::make_unique<TChild>(
            std::vector<std::string>{DIGITIZER_UPLOAD, device, "--main", main});
        EXPECT_TRUE(WaitForLine(*tool, [](const std::string& line) {
            return line == "Power digitizer off and back on";
        }));
        sim_->Signal(SIGUSR1);
        EXPECT_TRUE(WaitForLine(*tool, [](const std::string& line) {
            return line.size() > 1 && line.back() == '%' && line != "0%";
        })) << tool->Errors();
        return tool;
    }

    std::vector<uint8_t> Memory() const {
        const std::string text = ReadTextFile(memory_);
        return std::vector<uint8_t>(text.begin(), text.end());
    }

    std::filesystem::path dir_;
    std::string memory_;
    std::unique_ptr<TChild> sim_;
};

std::string Field(const std::vector<uint8_t>& memory, uint32_t address) {
    return std::string(memory.begin() + address, memory.begin() + address + 8);
}

std::string InvertedField(const std::vector<uint8_t>& memory, uint32_t address) {
    std::string field = Field(memory, address);
    for (char& c : field) {
        c = static_cast<char>(~c);
    }
    return field;
}

}  // namespace

TEST(UploadTerminal, ProgressBarFillsItsWidth) {
    EXPECT_EQ(ProgressBarText(0, 10), "[----------]   0%");
    EXPECT_EQ(ProgressBarText(33, 10), "[###-------]  33%");
    EXPECT_EQ(ProgressBarText(100, 10), "[##########] 100%");
    EXPECT_EQ(ProgressBarText(140, 4), "[####] 100%");
}

TEST_F(TUploadToolTest, UploadsThreeFilesAndKeepsTheSerialNumber) {
    const std::string device = StartSim();
    TMemoryImage image;
    const std::string boot = File("boot.hex", MakeHexText(0x0000, 10, 32, 1, image));
    const std::string main = File("main.hex", MakeHexText(0x10F000, 20, 32, 2, image));
    const std::string filter = File("filter.hex", MakeHexText(0x23400, 6, 16, 3, image));

    TChild tool({DIGITIZER_UPLOAD, device, "--boot", boot, "--main", main, "--filter", filter});
    ASSERT_EQ(Upload(tool), 0) << tool.Errors();
    const auto lines = tool.ReadLines(1000, 1s);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Upload Successfully Completed");
    for (const char* expected :
         {"Waiting for Boot Ready...", "Reading Serial Number...", "0%", "100%", "Rebooting..."}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    }

    // Saved by the unit at the reboot that ended the upload.
    const auto memory = Memory();
    ASSERT_EQ(memory.size(), MemorySize);
    int wrong = 0;
    for (const auto& [address, value] : image) {
        wrong += memory[address] != value ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(Field(memory, 0x1FF0), "00012345");
    EXPECT_EQ(InvertedField(memory, 0x1FE0), "00012345");
}

TEST_F(TUploadToolTest, RefusesADamagedFileBeforeOpeningTheDevice) {
    TPtyPeer peer;
    const std::string bad = File("bad.hex", HexLine(0, 0x10, {1, 2, 3, 4}) + "\n" +
                                                HexLine(0, 0x21, {1, 2}) + "\n" + HexEndLine());
    TChild tool({DIGITIZER_UPLOAD, peer.SlavePath(), "--main", bad});
    EXPECT_EQ(tool.Wait(), 1);
    EXPECT_EQ(tool.Errors(), "digitizer-upload: Main Code file " + bad +
                                 ", line 2: data record at the odd address 0x00021: memory is "
                                 "written in 16-bit words\nNothing was sent to the digitizer.\n");
    EXPECT_TRUE(tool.ReadLines(1, 100ms).empty());
    EXPECT_TRUE(peer.ReadFor(100ms).empty());

    // A relative path is no port number: one line, with the ports present.
    TChild relative({DIGITIZER_UPLOAD, "dev.link"});
    EXPECT_EQ(relative.Wait(), 2);
    const std::string errors = relative.Errors();
    EXPECT_EQ(errors.rfind("digitizer-upload: 'dev.link' is neither a device path nor a port "
                           "number: give a device as a path beginning with / (such as "
                           "/dev/ttyUSB0) or as a port number from 1 to 255; ",
                           0),
              0u)
        << errors;
    EXPECT_NE(errors.find(" (--list-ports); see --help\n"), std::string::npos) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
}

TEST_F(TUploadToolTest, ADeviceThatDoesNotOpenIsNamedWithThePortsPresent) {
    const std::string missing = (dir_ / "no-such-device").string();
    TChild tool({DIGITIZER_UPLOAD, missing});
    EXPECT_EQ(tool.Wait(), 1);
    const std::vector<TSerialPortInfo> ports = ListSerialPorts();
    EXPECT_EQ(tool.Errors(),
              "digitizer-upload: no file given: only the serial number is written "
              "back\ndigitizer-upload: cannot open " +
                  missing + ": No such file or directory\n" + SerialPortsHint(ports) + "\n");

    TChild list({DIGITIZER_UPLOAD, "--list-ports"});
    EXPECT_EQ(list.Wait(), 0);
    std::string listed;
    for (const std::string& line : list.ReadLines(100, 1s)) {
        listed += line + "\n";
    }
    EXPECT_EQ(listed, SerialPortListText(ports));
}

TEST_F(TUploadToolTest, InterruptWhileSendingCancelsAndRebootsTheUnit) {
    // About 380 acknowledgements a second: the 1000 records take a few seconds.
    const std::string device = StartSim("1");
    TMemoryImage image;
    const std::string main = File("main.hex", MakeHexText(0x4000, 1000, 16, 5, image));
    const auto tool = UploadUntilSending(device, main);
    // The second interrupt comes while the link restarts for the reboot: it only says so.
    tool->Signal(SIGINT);
    std::this_thread::sleep_for(200ms);
    tool->Signal(SIGINT);
    EXPECT_EQ(tool->Wait(60s), 1);
    EXPECT_EQ(tool->Errors(),
              "\ndigitizer-upload: cancelling: the unit is being rebooted so that it starts its "
              "firmware again (up to a minute). Interrupt once more to end at once.\n"
              "digitizer-upload: Upload Cancelled\n");
    EXPECT_EQ(tool->ReadLines(1000, 1s).back(), "Upload Cancelled");
    EXPECT_EQ(TSimJournalRead::Load(Journal()).CommandCount("BR"), 1);

    const auto memory = Memory();
    ASSERT_EQ(memory.size(), MemorySize);
    EXPECT_EQ(memory[0x4000], image[0x4000]);
    EXPECT_EQ(memory[0x4000 + 999 * 16], 0xFF) << "the rest was never written";
    EXPECT_EQ(Field(memory, 0x1FF0), "00012345");
}

TEST_F(TUploadToolTest, AThirdInterruptEndsAtOnceAndSaysWhereTheUnitIsLeft) {
    const std::string device = StartSim("1");
    TMemoryImage image;
    const std::string main = File("main.hex", MakeHexText(0x4000, 1000, 16, 5, image));
    const auto tool = UploadUntilSending(device, main);
    for (int i = 0; i < 3; ++i) {
        tool->Signal(SIGINT);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(tool->Wait(5s), 1);
    const std::string errors = tool->Errors();
    EXPECT_NE(errors.find("digitizer-upload: ended before the unit was rebooted: it may be left "
                          "in its boot loader with part of the new firmware. Power it off and on "
                          "and upload again.\n"),
              std::string::npos)
        << errors;
    // The link restarts for a second before the reboot command: none was sent.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(TSimJournalRead::Load(Journal()).CommandCount("BR"), 0);
}

TEST_F(TUploadToolTest, TheCablePulledWhileSendingStopsTheUploadAndSaysWhere) {
    // 6000 records at about 380 a second: the device goes (and comes back under another
    // path) at the unit's tenth second, while they are going out.
    const std::string device = StartSim("1", {"--at", "10:reopen"});
    TMemoryImage image;
    const std::string main = File("main.hex", MakeHexText(0x4000, 6000, 16, 6, image));
    const auto tool = UploadUntilSending(device, main);
    EXPECT_EQ(tool->Wait(30s), 1) << "a dead device is not written to for ever";
    const std::string errors = tool->Errors();
    const std::string start = "digitizer-upload: lost the digitizer at record ";
    const std::string end =
        " of 6002; the unit is in its boot loader: power it off and on and upload again\n";
    ASSERT_EQ(errors.rfind(start, 0), 0u) << errors;
    ASSERT_GT(errors.size(), start.size() + end.size());
    ASSERT_EQ(errors.substr(errors.size() - end.size()), end) << errors;
    const int record =
        std::stoi(errors.substr(start.size(), errors.size() - start.size() - end.size()));
    EXPECT_GT(record, 1);
    EXPECT_LT(record, 6002);

    const TSimJournalRead journal = TSimJournalRead::Load(Journal());
    EXPECT_EQ(journal.CommandCount("BR"), 0) << "nothing after the loss";
    EXPECT_EQ(journal.CommandCount("PC"), 1) << "the final command was not sent";
    EXPECT_GE(journal.CommandCount("DR"), record - 1);
    EXPECT_LT(journal.CommandCount("DR"), 6002);
}

TEST_F(TUploadToolTest, AnErasedSerialNumberIsTakenFromTheCommandLine) {
    WriteTextFile(memory_, std::string(MemorySize, '\xFF'));
    const std::string device = StartSim();

    // Not asked on a pipe: without --serial nothing is written and the unit is rebooted.
    TChild unasked({"/bin/sh", "-c",
                    std::string("exec '") + DIGITIZER_UPLOAD + "' '" + device + "' < /dev/null"});
    EXPECT_EQ(Upload(unasked), 1);
    const std::string errors = unasked.Errors();
    EXPECT_NE(errors.find("the serial number could not be read; give it with --serial"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("digitizer-upload: no serial number; nothing was written"),
              std::string::npos)
        << errors;
    EXPECT_EQ(Field(Memory(), 0x1FF0), std::string(8, '\xFF')) << "nothing written";

    TChild given({DIGITIZER_UPLOAD, device, "--serial", "XY-42"});
    EXPECT_EQ(Upload(given), 0) << given.Errors();
    const auto memory = Memory();
    EXPECT_EQ(Field(memory, 0x1FF0), "   XY-42");
    EXPECT_EQ(InvertedField(memory, 0x1FE0), "   XY-42");
}
