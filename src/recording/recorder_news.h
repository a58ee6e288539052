// What the recorder has to tell its owner: failures for the user, lines for the log, and the
// figures of what it has written.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "seedfile/seed_time.h"

// Failures for the user (a message that does not block, and standard error), and lines for
// standard error only (a file name that was taken, the end of a failure streak).
struct TRecordingNews {
    std::vector<std::string> Reports;
    std::vector<std::string> Notices;

    bool Empty() const { return Reports.empty() && Notices.empty(); }
    void Append(TRecordingNews&& other);
};

// A time as "2025-01-01T00:00:00.0000Z", for the log.
std::string UtcText(TSeedTime time);

// What a shortage of the disk cost: samples per stream and the span of time they covered.
struct TStreamLoss {
    std::map<std::string, int64_t> PerStream;  // by NET.STA.LOC.CHA
    TSeedTime From, To;

    void Add(const std::string& id, int64_t samples, TSeedTime start, TSeedTime end);
    bool Empty() const { return PerStream.empty(); }
    int64_t Samples() const;
    // "N samples lost, from T1 to T2: ID n ID n ..."
    std::string Text() const;
};

// One stream's figures: samples on disk and the time of the newest of them.
struct TStreamStats {
    std::string Id;  // NET.STA.LOC.CHA, or the channel code of the window's layout
    int64_t SamplesRecorded = 0;
    std::optional<TSeedTime> LastSample;
};

struct TRecorderStats {
    std::vector<TStreamStats> Streams;
    uint64_t Blocks = 0;         // blocks taken by the worker
    size_t HeldBytes = 0;        // memory held for data not yet on disk
    int64_t DroppedSamples = 0;  // samples dropped because memory ran out
    int64_t FilesRemoved = 0;    // day files removed to keep the disk from filling
    std::string LastError;       // the newest failure, empty while none
    int64_t LastErrorTime = 0;   // UTC seconds of the computer's clock
};

// A failure streak: its first failure is reported, its end told on standard error.
class TFailureStreak {
  public:
    // A failure; true when it starts a streak (and must be reported).
    bool Fail() {
        ++lost_;
        const bool first = !failing_;
        failing_ = true;
        return first;
    }
    // A success; the number of failures of the streak it ends, or nothing when none ran.
    std::optional<int> Succeed() {
        if (!failing_) {
            return std::nullopt;
        }
        const int lost = lost_;
        failing_ = false;
        lost_ = 0;
        return lost;
    }
    bool Failing() const { return failing_; }

  private:
    bool failing_ = false;
    int lost_ = 0;
};
