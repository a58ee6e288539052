// The continuous spans of every stream of the archive, kept as its records are written: the
// picture the availability service answers from without reading the archive. A record joins
// the span it follows when its first sample comes within half a sample period of where the
// span's next sample was due and the rate is the same; otherwise it begins a span of its own
// (after a gap, over an overlap, at a new rate). A record within a span already held is taken
// once only, so that the records seen both by the look at the archive and as they are written
// count once. Memory grows with the number of spans, not of records: a stream recorded without
// a break stays one span. One lock guards it: the recording adds a record in a few steps, the
// HTTP threads copy what they ask for.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

struct TStreamKey {
    std::string Network, Station, Location, Channel;
    auto operator<=>(const TStreamKey&) const = default;
    bool operator==(const TStreamKey&) const = default;
};

struct TDataSpan {
    int64_t Start = 0;  // first sample, microseconds since 1970 UTC
    int64_t End = 0;    // one sample period after the last
    double Rate = 0;    // samples per second
    bool operator==(const TDataSpan&) const = default;
};

struct TStreamSpans {
    TStreamKey Key;
    std::vector<TDataSpan> Spans;  // by start
    int64_t Updated = 0;           // when a record last changed them, microseconds since 1970
};

class TArchiveSpans {
  public:
    // One record's time span; `now` is the time of the change.
    void Add(const TStreamKey& key, int64_t start, int64_t end, double rate, int64_t now);
    // The record at the start of `bytes` (its header read); false when it is none.
    bool AddRecord(std::span<const uint8_t> bytes, int64_t now);
    // What [from, to) of the stream held: gone (a day file removed).
    void Cut(const TStreamKey& key, int64_t from, int64_t to);
    // The day file `path` (NET.STA.LOC.CHA.D.YEAR.DOY) removed: its day of its stream cut.
    void RemoveDayFile(const std::string& path);
    // The day files under `root` read, record header by record header, until `stop` is
    // asked. The number of records.
    int64_t AddArchive(const std::string& root, std::stop_token stop = {});

    // A copy of the streams `wanted` takes, their spans cut to [from, to).
    std::vector<TStreamSpans> Select(const std::function<bool(const TStreamKey&)>& wanted,
                                     int64_t from, int64_t to) const;
    size_t SpanCount() const;

  private:
    mutable std::mutex mutex_;
    std::map<TStreamKey, TStreamSpans> streams_;
};

// Half a sample period at `rate`, in microseconds: how far a record may start from where its
// span's next sample was due and still continue it.
int64_t ContinuityTolerance(double rate);
