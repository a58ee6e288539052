#include "recording/archive_spans.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "seedfile/record_head.h"
#include "seedfile/seed_time.h"

namespace {

constexpr int64_t MicrosPerDay = int64_t{86400} * 1000000;

// "NET.STA.LOC.CHA.D.YEAR.DOY": the stream and the first microsecond of the day.
bool DayFileOf(const std::string& name, TStreamKey& key, int64_t& dayStart) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (true) {
        const size_t dot = name.find('.', from);
        parts.push_back(name.substr(from, dot - from));
        if (dot == std::string::npos) {
            break;
        }
        from = dot + 1;
    }
    int year = 0, doy = 0;
    char end = 0;
    if (parts.size() != 7 || parts[4] != "D" ||
        std::sscanf(parts[5].c_str(), "%4d%c", &year, &end) != 1 ||
        std::sscanf(parts[6].c_str(), "%3d%c", &doy, &end) != 1 || doy < 1 || doy > 366) {
        return false;
    }
    const std::optional<TSeedTime> newYear = SeedTimeOf(year, 1, 1);
    if (!newYear) {
        return false;
    }
    key = TStreamKey{parts[0], parts[1], parts[2], parts[3]};
    dayStart = (newYear->Seconds + int64_t{doy - 1} * 86400) * 1000000;
    return true;
}

}  // namespace

int64_t ContinuityTolerance(double rate) {
    return rate > 0 ? int64_t(0.5e6 / rate) : 0;
}

void TArchiveSpans::Add(const TStreamKey& key, int64_t start, int64_t end, double rate,
                        int64_t now) {
    if (end < start) {
        return;
    }
    const int64_t tolerance = ContinuityTolerance(rate);
    std::lock_guard lock(mutex_);
    TStreamSpans& stream = streams_[key];
    if (stream.Spans.empty()) {
        stream.Key = key;
    }
    std::vector<TDataSpan>& spans = stream.Spans;
    // The first span starting after the record could start.
    auto next = std::upper_bound(spans.begin(), spans.end(), start + tolerance,
                                 [](int64_t at, const TDataSpan& s) { return at < s.Start; });
    // Of the spans before it, the newest the record continues or lies within (recorded in
    // order, the first one looked at).
    for (auto it = next; it != spans.begin();) {
        --it;
        if (it->Rate != rate) {
            continue;
        }
        if (start >= it->Start - tolerance && end <= it->End + tolerance) {
            return;  // held already
        }
        if (std::abs(start - it->End) <= tolerance) {
            it->End = end;
            // A hole filled: the span after it joins.
            auto after = it + 1;
            if (after != spans.end() && after->Rate == rate &&
                std::abs(after->Start - end) <= tolerance) {
                it->End = std::max(end, after->End);
                spans.erase(after);
            }
            stream.Updated = now;
            return;
        }
    }
    if (next != spans.end() && next->Rate == rate && std::abs(next->Start - end) <= tolerance) {
        next->Start = start;  // a record just before a span
    } else {
        spans.insert(next, TDataSpan{start, end, rate});
    }
    stream.Updated = now;
}

bool TArchiveSpans::AddRecord(std::span<const uint8_t> bytes, int64_t now) {
    const std::optional<TRecordHead> head = ReadRecordHead(bytes);
    if (!head || head->SampleRate <= 0 || head->Samples <= 0) {
        return false;
    }
    Add(TStreamKey{head->Network, head->Station, head->Location, head->Channel}, head->Start,
        head->End, head->SampleRate, now);
    return true;
}

void TArchiveSpans::Cut(const TStreamKey& key, int64_t from, int64_t to) {
    std::lock_guard lock(mutex_);
    const auto found = streams_.find(key);
    if (found == streams_.end()) {
        return;
    }
    std::vector<TDataSpan> kept;
    for (const TDataSpan& span : found->second.Spans) {
        if (span.End <= from || span.Start >= to) {
            kept.push_back(span);
            continue;
        }
        if (span.Start < from) {
            kept.push_back(TDataSpan{span.Start, from, span.Rate});
        }
        if (span.End > to) {
            kept.push_back(TDataSpan{to, span.End, span.Rate});
        }
    }
    if (kept.empty()) {
        streams_.erase(found);
    } else {
        found->second.Spans = std::move(kept);
    }
}

void TArchiveSpans::RemoveDayFile(const std::string& path) {
    TStreamKey key;
    int64_t dayStart = 0;
    if (DayFileOf(std::filesystem::path(path).filename().string(), key, dayStart)) {
        Cut(key, dayStart, dayStart + MicrosPerDay);
    }
}

int64_t TArchiveSpans::AddArchive(const std::string& root, std::stop_token stop) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        TStreamKey key;
        int64_t day = 0;
        if (it->is_regular_file(ec) && DayFileOf(it->path().filename().string(), key, day)) {
            files.push_back(it->path());
        }
    }
    // By stream, then day: every record after the one before it.
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    int64_t records = 0;
    std::array<uint8_t, 256> head{};  // the fixed header and its blockettes
    for (const fs::path& file : files) {
        if (stop.stop_requested()) {
            break;
        }
        const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        off_t at = 0;
        ssize_t n = 0;
        while ((n = pread(fd, head.data(), head.size(), at)) >= 48) {
            const std::span<const uint8_t> bytes(head.data(), size_t(n));
            const std::optional<TRecordHead> record = ReadRecordHead(bytes);
            if (!record) {
                at += 256;  // damage: the next place a record may begin
                continue;
            }
            if (record->SampleRate > 0 && record->Samples > 0) {
                Add(TStreamKey{record->Network, record->Station, record->Location, record->Channel},
                    record->Start, record->End, record->SampleRate, now);
                ++records;
            }
            at += off_t(record->Length);
        }
        close(fd);
    }
    return records;
}

std::vector<TStreamSpans> TArchiveSpans::Select(
    const std::function<bool(const TStreamKey&)>& wanted, int64_t from, int64_t to) const {
    std::vector<TStreamSpans> chosen;
    std::lock_guard lock(mutex_);
    for (const auto& [key, stream] : streams_) {
        if (!wanted(key)) {
            continue;
        }
        TStreamSpans copy{key, {}, stream.Updated};
        for (const TDataSpan& span : stream.Spans) {
            if (span.End > from && span.Start < to) {
                copy.Spans.push_back(
                    TDataSpan{std::max(span.Start, from), std::min(span.End, to), span.Rate});
            }
        }
        if (!copy.Spans.empty()) {
            chosen.push_back(std::move(copy));
        }
    }
    return chosen;
}

size_t TArchiveSpans::SpanCount() const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const auto& [key, stream] : streams_) {
        count += stream.Spans.size();
    }
    return count;
}
