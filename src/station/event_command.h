// A command digitizer-station runs at the start of each event (--on-event) and at each alarm
// raised or cleared (--on-alarm), named in its log lines by that option. It is never
// handed to a shell: the configured text is split into words here, once, and the program
// started directly with the event's values in its environment, so that no value of an event
// can ever become part of a command line.
//
// Splitting (SplitCommand), a deliberately small set of rules:
//   - words are separated by spaces and tabs;
//   - '...' keeps everything up to the next ' as it is;
//   - "..." keeps everything up to the next unescaped ", where \" stands for " and \\ for a
//     backslash (any other backslash stays as it is);
//   - outside quotes, \ keeps the next character as it is;
//   - nothing else is special: no $variables, no ~, no wildcards, no redirections or pipes.
//   Refused: an empty command, an unclosed quote, a \ at the end, control characters.
// The first word is the program: with a '/' the file itself, else looked up in PATH. A shell
// is used only when asked for by name (sh -c '...'), reading the values from its environment.
//
// The command runs with standard input from /dev/null and the station's standard output and
// error, in a process group of its own, the signals' default actions and no blocked signals.
// One runs at a time: an event that starts while the previous event's command still runs is
// not given one (counted, and said in the log); the alarms instead wait their turn (Running).
// A command still running at its time limit
// gets SIGTERM (its process group), and SIGKILL if it is still there `grace` later. Ended
// commands are reaped by Service, which never waits, so that no zombie is left behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"

// The words of `text`, under the rules above; an error that says what is wrong.
TResult<std::vector<std::string>> SplitCommand(const std::string& text);

class TEventCommand {
  public:
    using TClock = std::chrono::steady_clock;
    using TValues = std::vector<std::pair<std::string, std::string>>;

    TEventCommand(std::vector<std::string> words, std::chrono::milliseconds limit,
                  std::chrono::milliseconds grace = std::chrono::seconds(5),
                  std::string option = "on-event");
    ~TEventCommand();
    TEventCommand(const TEventCommand&) = delete;
    TEventCommand& operator=(const TEventCommand&) = delete;

    // Starts the command for `what` ("event 3") with `values` set in its environment over the
    // station's own. The line to log: started (with its process id), skipped because one
    // still runs, or why it could not start.
    std::string Start(const std::string& what, const TValues& values, TClock::time_point now);
    // Reaps a command that has ended and applies the time limit; never waits. The lines to
    // log: how an ended command ended, a signal sent at the limit.
    std::vector<std::string> Service(TClock::time_point now);
    // Ends a running command (SIGTERM, up to `grace`, then SIGKILL) and reaps it. The lines to
    // log.
    std::vector<std::string> Stop();

    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    int64_t Started() const { return started_; }
    int64_t Skipped() const { return skipped_; }
    int64_t Failed() const { return failed_; }  // could not start, or did not end with 0
    const std::vector<std::string>& Words() const { return words_; }

  private:
    std::string Name() const;  // "the on-event command"
    std::string Ended(int status, TClock::time_point now);

    std::vector<std::string> words_;
    std::chrono::milliseconds limit_;
    std::chrono::milliseconds grace_;
    std::string option_;
    pid_t pid_ = -1;
    std::string what_;
    TClock::time_point since_{};
    bool termSent_ = false;
    bool killSent_ = false;
    bool limitReached_ = false;
    TClock::time_point termAt_{};
    int64_t started_ = 0;
    int64_t skipped_ = 0;
    int64_t failed_ = 0;
};
