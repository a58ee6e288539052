// The unit's journal: one line per thing it did, for whoever wants to know what went over the
// line without tapping it: every frame with its block count and whether it left whole, every
// command received and echo sent, the line rates the other side set, power cycles. Each line
// begins with the seconds since the journal was opened.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

class TSimJournal {
  public:
    TSimJournal() = default;
    TSimJournal(const TSimJournal&) = delete;
    TSimJournal& operator=(const TSimJournal&) = delete;
    ~TSimJournal() { Close(); }

    // Opens `path` afresh (an existing file is emptied). False with `error` set on failure.
    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    // One line, written through at once so that a reader sees it while the unit runs.
    void Write(std::string_view text);

  private:
    std::FILE* file_ = nullptr;
    std::chrono::steady_clock::time_point start_{};
};
