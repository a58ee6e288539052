// The unit's journal: one line per thing it did, for whoever wants to know what went over the
// line without tapping it: every frame with its block count and whether it left whole, every
// command received and echo sent, the line rates the other side set, power cycles. Each line
// begins with the seconds since the journal was opened.
//
// A frame's line, once its last byte has gone out (or it was lost):
//
//   frame B intact|damaged WHY [tag-in-samples] [echo-inside] time T channels C rate R
//         samples S first K0,K1,... bytes W
//
//   B          the frame's block count
//   intact     every byte went out as built; or damaged and WHY a receiver cannot decode it:
//              corrupt, drop, split-echo, stall, silence, noise (the line at another rate),
//              reopen (cut by the device closing), unplugged, reboot, power-cycle
//   tag-in-samples  a "MOD" tag stands among its samples
//   echo-inside     an echo went out between its bytes
//   time T     the GPS clock at the frame, UTC seconds since 1970: the time of its first sample
//   channels C the channels it carries
//   rate R     samples per second per channel (100, 0.5)
//   samples S  samples per channel
//   first K..  for each channel c, the index k of its first sample: with the counter signal
//              sample j of channel c is CounterValue(c, Kc + j, W) (sim/signals.h)
//   bytes W    bytes per sample
//
// Other lines: "device PATH" (a device, and each fresh one after a reopen), "unplugged",
// "line BAUD", "command XX", "echo XX [split|dropped]", "ready", "firmware", "power-cycle",
// "action T WHAT" (a scheduled action done at second T of the unit's clock), "stopped".
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
