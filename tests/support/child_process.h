// A program run as a child process for tests, its standard output and error
// read through pipes. Killed when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class TChild {
  public:
    // `environment` entries ("NAME=value") are added to this process's own.
    explicit TChild(std::vector<std::string> args, std::vector<std::string> environment = {});
    ~TChild();
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    // Standard output split into lines, read until it holds `lines` lines or the time runs out.
    std::vector<std::string> ReadLines(size_t lines, std::chrono::milliseconds timeout);
    // Standard error as far as it has arrived.
    std::string Errors();
    // The exit status (128 + signal for a signal), or -1 when it did not end in time.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void Signal(int signal);
    // The process id while it runs, -1 once it has been waited for.
    pid_t Pid() const { return pid_; }

  private:
    static bool ReadSome(int fd, std::string& into, int waitMs);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string output_;
    std::string errors_;
};
