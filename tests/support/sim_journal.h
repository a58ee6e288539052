// The simulator's journal read back: what the unit sent and heard, as the tests compare it
// with what the program made of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TJournalLine {
    double Seconds = 0;              // since the unit started
    std::vector<std::string> Words;  // the event and its details ("frame", "12", "intact")
};

class TSimJournalRead {
  public:
    // The journal as far as it has been written; a last line without its end is left out.
    static TSimJournalRead Load(const std::string& path);

    const std::vector<TJournalLine>& Lines() const { return lines_; }

    struct TFrame {
        uint32_t BlockCount = 0;
        double Seconds = 0;
        bool Intact = false;
        std::string Damage;  // why not, when not intact
        bool TagInSamples = false;
        bool EchoInside = false;  // an echo went out between its bytes
        // What a receiver needs to check every sample (see sim/journal.h); Time is -1 on a
        // line that does not tell.
        int64_t Time = -1;  // UTC seconds of the first sample
        int Channels = 0;
        double Rate = 0;
        int Samples = 0;              // per channel
        std::vector<uint64_t> First;  // counter index of each channel's first sample
        int Bytes = 0;
    };
    std::vector<TFrame> Frames() const;
    // The commands received (their two letters), oldest first.
    std::vector<std::string> Commands() const;
    // How many times the unit received `letters`; how many echoes of them it sent (split ones
    // too); how many of those were split.
    int CommandCount(const std::string& letters) const;
    int EchoCount(const std::string& letters) const;
    int SplitEchoCount() const;
    // The line rates the other side set, in order, each with when it was seen.
    std::vector<std::pair<double, int>> LineRates() const;
    // The rate the other side set last, and since when; 0 when none was seen.
    int LineRate() const;
    double LineRateSince() const;
    // The time of the last line, 0 when there is none.
    double LastSeconds() const;

  private:
    std::vector<TJournalLine> lines_;
};
