// The on-event command as real processes: the event's values in its environment and never
// read by a shell, standard input from /dev/null, one at a time, the time limit (SIGTERM, then
// SIGKILL for one that ignores it), programs that cannot start, exit statuses, and every
// command reaped.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "station/event_command.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class EventCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("events_command_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // Services the command until it has ended (up to a generous bound), gathering the lines.
    static std::vector<std::string> UntilEnded(TEventCommand& command) {
        std::vector<std::string> lines;
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (command.Running() && std::chrono::steady_clock::now() < end) {
            for (std::string& line : command.Service(TEventCommand::TClock::now())) {
                lines.push_back(std::move(line));
            }
            std::this_thread::sleep_for(10ms);
        }
        return lines;
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    static std::string Joined(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\n";
        }
        return text;
    }

    // No child of this process is left, running or unreaped.
    static bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

    fs::path dir_;
};

}  // namespace

TEST_F(EventCommand, ValuesReachTheEnvironmentAsTheyAreAndStandardInputIsEmpty) {
    // The script prints its arguments, two values and what it reads from standard input.
    const std::string script =
        "printf '%s|%s|%s|%s|%s\\n' \"$1\" \"$EVENT_ID\" \"$EVENT_CHANNELS\" \"$HOME_SEEN\" "
        "\"$(cat)\" > \"$2\"";
    TEventCommand command({"sh", "-c", script, "sh", "a b", Path("out")}, 10s);
    // A value a shell would run if it were spliced into a command line.
    const TEventCommand::TValues values = {{"EVENT_ID", "7"},
                                           {"EVENT_CHANNELS", "1,2; touch " + Path("pwned")},
                                           {"HOME_SEEN", "$(touch " + Path("pwned2") + ")"}};
    const std::string started = command.Start("event 7", values, TEventCommand::TClock::now());
    EXPECT_EQ(started.rfind("the on-event command for event 7 started (process ", 0), 0u)
        << started;
    EXPECT_TRUE(command.Running());
    const std::vector<std::string> lines = UntilEnded(command);
    ASSERT_EQ(lines.size(), 1u) << Joined(lines);
    EXPECT_EQ(lines[0].rfind("the on-event command for event 7 exited with status 0 after ", 0), 0u)
        << lines[0];
    EXPECT_EQ(Read(Path("out")),
              "a b|7|1,2; touch " + Path("pwned") + "|$(touch " + Path("pwned2") + ")|\n");
    EXPECT_FALSE(fs::exists(Path("pwned")));
    EXPECT_FALSE(fs::exists(Path("pwned2")));
    EXPECT_EQ(command.Started(), 1);
    EXPECT_EQ(command.Failed(), 0);
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(EventCommand, OneAtATimeAndTheTimeLimitEndsItEvenWhenItIgnoresSigterm) {
    // The station ignores some signals; the command gets their default actions back, so that
    // SIGTERM ends a plain sleep.
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &ignore, &old);
    TEventCommand sleeper({"sleep", "30"}, 100ms, 5s);
    EXPECT_NE(sleeper.Start("event 1", {}, TEventCommand::TClock::now()).find("started"),
              std::string::npos);
    sigaction(SIGTERM, &old, nullptr);
    EXPECT_EQ(sleeper.Start("event 2", {}, TEventCommand::TClock::now()),
              "the on-event command is not run for event 2: the one for event 1 still runs");
    EXPECT_EQ(sleeper.Skipped(), 1);
    std::vector<std::string> lines = UntilEnded(sleeper);
    ASSERT_EQ(lines.size(), 2u) << Joined(lines);
    EXPECT_EQ(lines[0],
              "the on-event command for event 1 still runs at its time limit of 0.1 s: SIGTERM "
              "sent");
    EXPECT_EQ(lines[1].rfind("the on-event command for event 1 was ended by signal 15 (", 0), 0u)
        << lines[1];
    EXPECT_NE(lines[1].find("stopped at its time limit of 0.1 s"), std::string::npos);
    EXPECT_EQ(sleeper.Failed(), 1);

    // One that ignores SIGTERM (a child it started goes with its process group). It says when
    // it ignores it; the limit applies as the command is serviced.
    const std::string ready = Path("ready");
    TEventCommand stubborn(
        {"sh", "-c", "trap '' TERM; : > \"$0\"; while :; do sleep 0.05; done", ready}, 100ms,
        300ms);
    const auto waitReady = [&] {
        for (int i = 0; i < 2000 && !fs::exists(ready); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        fs::remove(ready);
    };
    stubborn.Start("event 3", {}, TEventCommand::TClock::now());
    waitReady();
    lines = UntilEnded(stubborn);
    ASSERT_EQ(lines.size(), 3u) << Joined(lines);
    EXPECT_NE(lines[0].find("SIGTERM sent"), std::string::npos);
    EXPECT_EQ(lines[1],
              "the on-event command for event 3 is still there 0.3 s after SIGTERM: "
              "SIGKILL sent");
    EXPECT_EQ(lines[2].rfind("the on-event command for event 3 was ended by signal 9 (", 0), 0u)
        << lines[2];
    // The next event gets its command again.
    EXPECT_NE(stubborn.Start("event 4", {}, TEventCommand::TClock::now()).find("started"),
              std::string::npos);
    waitReady();
    lines = stubborn.Stop();
    ASSERT_EQ(lines.size(), 3u) << Joined(lines);
    EXPECT_EQ(lines[0],
              "the on-event command for event 4 still runs as the station stops: SIGTERM sent");
    EXPECT_NE(lines[2].find("was ended by signal 9"), std::string::npos);
    EXPECT_FALSE(stubborn.Running());
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(EventCommand, ProgramsThatCannotStartAndFailuresAreSaid) {
    struct TCase {
        std::vector<std::string> Words;
        std::string Line;  // Start's line, or the line of its end
        bool Starts;
    };
    const std::string missing = Path("no-such-program");
    std::ofstream(Path("not-executable")) << "#!/bin/sh\nexit 0\n";
    const TCase cases[] = {
        {{missing}, "cannot start: " + missing + ": No such file or directory", false},
        {{"no-such-program-in-path-42"},
         "cannot start: no-such-program-in-path-42: No such file or directory",
         false},
        {{Path("not-executable")},
         "cannot start: " + Path("not-executable") + ": Permission denied",
         false},
        {{"sh", "-c", "exit 3"}, "exited with status 3", true},
        {{"sh", "-c", "kill -USR1 $$"}, "was ended by signal 10 (", true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Words[0]);
        TEventCommand command(c.Words, 10s);
        const std::string started = command.Start("event 9", {}, TEventCommand::TClock::now());
        EXPECT_EQ(command.Running(), c.Starts) << started;
        if (!c.Starts) {
            EXPECT_EQ(started, "the on-event command for event 9 " + c.Line);
        } else {
            const std::vector<std::string> lines = UntilEnded(command);
            ASSERT_EQ(lines.size(), 1u) << Joined(lines);
            EXPECT_NE(lines[0].find(c.Line), std::string::npos) << lines[0];
        }
        EXPECT_EQ(command.Failed(), 1);
    }
    EXPECT_TRUE(NoChildLeft());
}
