// The digitizer-dump program against the digitizer-sim program: a live stream
// decoded by one process and checked from its JSON output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "sim/signals.h"
#include "support/json.h"
#include "support/pty_pair.h"

using namespace std::chrono_literals;

extern char** environ;

namespace {

// A child process with its standard output and error read through pipes.
class TChild {
  public:
    explicit TChild(std::vector<std::string> args) {
        int out[2], err[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~TChild() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        close(out_);
        close(err_);
    }

    // Reads standard output until it holds `lines` lines or the time runs out.
    std::vector<std::string> ReadLines(size_t lines, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (Count('\n') < lines && std::chrono::steady_clock::now() < deadline) {
            if (!ReadSome(out_, output_, 50)) {
                break;
            }
        }
        std::vector<std::string> result;
        std::istringstream in(output_);
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }
    std::string Errors() {
        while (ReadSome(err_, errors_, 0)) {
        }
        return errors_;
    }
    // The exit status, or -1 when it did not end in time.
    int Wait(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return -1;
            }
            ReadSome(out_, output_, 10);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int signal) { kill(pid_, signal); }

  private:
    size_t Count(char c) const {
        return static_cast<size_t>(std::count(output_.begin(), output_.end(), c));
    }
    static bool ReadSome(int fd, std::string& into, int waitMs) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, waitMs) <= 0) {
            return waitMs > 0;  // nothing yet: keep waiting unless asked not to
        }
        char buffer[65536];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        into.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string output_;
    std::string errors_;
};

}  // namespace

TEST(DumpTool, ShowsALiveCorrectStreamFromTheSimulator) {
    TChild sim({DIGITIZER_SIM, "--channels", "4", "--rate", "20", "--bytes", "3", "--gps",
                "reports", "--signal", "counter", "--speed", "10", "--baud", "38400"});
    const auto simLines = sim.ReadLines(1, 5s);
    ASSERT_EQ(simLines.size(), 1u) << sim.Errors();
    const std::string device = simLines[0];

    TChild dump({DIGITIZER_DUMP, device, "--baud", "38400", "--json", "--blocks", "12"});
    EXPECT_EQ(dump.Wait(20s), 0) << dump.Errors();
    const auto lines = dump.ReadLines(12, 1s);
    ASSERT_EQ(lines.size(), 12u) << dump.Errors();

    uint64_t k = 0;
    double previousCount = -1;
    for (size_t b = 0; b < lines.size(); ++b) {
        auto json = ParseJson(lines[b]);
        ASSERT_TRUE(json) << lines[b];
        const TJson& header = (*json)["Header"];
        EXPECT_EQ(header["NumComponents"].Number, 4);
        EXPECT_EQ(header["HasMde"].Number, 1);
        EXPECT_EQ((*json)["Gps"]["Source"].Number, 2) << "receiver reports";
        if (previousCount >= 0) {
            EXPECT_EQ(header["BlockCount"].Number, previousCount + 1) << "a block was lost";
        }
        previousCount = header["BlockCount"].Number;
        const TJson& channels = (*json)["Samples"]["Channel"];
        ASSERT_EQ(channels.Array.size(), 4u);
        if (b == 0) {
            k = static_cast<uint64_t>(channels[0][0].Number) >> 8;
        }
        for (int c = 0; c < 4; ++c) {
            ASSERT_EQ(channels[c].Array.size(), 20u);
            for (size_t j = 0; j < 20; ++j) {
                ASSERT_EQ(channels[c][j].Number, CounterValue(c, k + j, 3) * 256.0)
                    << "block " << b << " channel " << c << " sample " << j;
            }
        }
        k += 20;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(DumpTool, ReportsADeviceItCannotOpen) {
    TChild dump({DIGITIZER_DUMP, "/dev/kestrel-no-such-device"});
    EXPECT_EQ(dump.Wait(), 1);
    const std::string errors = dump.Errors();
    EXPECT_NE(errors.find("/dev/kestrel-no-such-device"), std::string::npos) << errors;
    EXPECT_NE(errors.find("No such file or directory"), std::string::npos) << errors;

    TPtyPeer peer;
    TChild holder({DIGITIZER_DUMP, peer.SlavePath(), "--seconds", "5"});
    std::this_thread::sleep_for(300ms);
    TChild second({DIGITIZER_DUMP, peer.SlavePath()});
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Errors().find("busy"), std::string::npos) << second.Errors();
}

TEST(DumpTool, EndsAfterItsTimeOnASilentLineAndRefusesBadArguments) {
    TPtyPeer peer;
    TChild dump({DIGITIZER_DUMP, peer.SlavePath(), "--seconds", "0.5"});
    EXPECT_EQ(dump.Wait(5s), 0);
    EXPECT_TRUE(dump.ReadLines(1, 100ms).empty());

    for (std::vector<std::string> args : {std::vector<std::string>{DIGITIZER_DUMP},
                                          {DIGITIZER_DUMP, "1", "--baud", "14400"},
                                          {DIGITIZER_DUMP, "1", "--blocks", "0"},
                                          {DIGITIZER_DUMP, "1", "2"},
                                          {DIGITIZER_DUMP, "0"},
                                          {DIGITIZER_DUMP, "1", "--bogus"}}) {
        TChild bad(args);
        EXPECT_EQ(bad.Wait(), 2) << args.back();
        EXPECT_NE(bad.Errors().find("Usage"), std::string::npos);
    }
}
