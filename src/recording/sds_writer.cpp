#include "recording/sds_writer.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "recording/archive_spans.h"
#include "recording/stream_codes.h"

namespace {

constexpr int64_t SecondsPerDay = 86400;

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t NextMidnight(TSeedTime time) {
    const int64_t day = time.Seconds >= 0 ? time.Seconds / SecondsPerDay
                                          : (time.Seconds - SecondsPerDay + 1) / SecondsPerDay;
    return (day + 1) * SecondsPerDay;
}

}  // namespace

TSdsWriter::TSdsWriter(TSdsSettings settings) : settings_(std::move(settings)) {}

TSdsWriter::~TSdsWriter() {
    Close();
}

void TSdsWriter::Configure(const TRecorderSettings& settings) {
    if (settings.Sds == settings_) {
        return;
    }
    Close();
    settings_ = settings.Sds;
    format_.reset();
    haveLast_ = false;
}

TSdsWriter::TStream& TSdsWriter::StreamFor(const TStreamCode& code, bool soh) {
    TSeedCodes codes{format_ ? format_->Station : std::string(), code.Location, settings_.Network,
                     code.Channel};
    const std::string id =
        codes.Network + "." + codes.Station + "." + codes.Location + "." + codes.Channel;
    std::unique_ptr<TStream>& stream = streams_[id];
    if (!stream) {
        stream = std::make_unique<TStream>();
        stream->Codes = std::move(codes);
        stream->Id = id;
        stream->Soh = soh;
    }
    if (!stream->Series) {
        stream->RecordLength = soh ? SohRecordLength : settings_.RecordLength;
    }
    return *stream;
}

void TSdsWriter::Take(const TRecordBlock& block) {
    ++stats_.Blocks;
    const TFormat format{block.ChannelCount, block.SampleRate, block.BytesPerSample,
                         StationCodeOf(settings_.Station, block.SerialNumber)};
    const bool continues = haveLast_ && block.Time == lastTime_ + 1;
    if (!continues || (format_ && format_->Station != format.Station)) {
        EndAllSeries();
    } else if (format_ && !(*format_ == format)) {
        // A new rate or channel set: the data series end, the state of health runs on.
        for (auto& [id, stream] : streams_) {
            if (!stream->Soh) {
                EndSeries(*stream);
            }
        }
    }
    if (!haveLast_) {
        lastFlush_ = block.Time;
    }
    haveLast_ = true;
    lastTime_ = block.Time;
    format_ = format;

    // Records held back by a failing disk go first, in order.
    WriteHeld();

    const uint8_t flags = block.ClockLocked ? SeedClockLocked : 0;
    const int quality = TimingQualityOf(block);
    std::vector<TStream*> touched;
    if (block.HasSamples() && block.SampleRate > 0) {
        std::vector<int32_t> scaled;
        const std::vector<TStreamCode> codes = DataStreamCodes(
            settings_.ChannelCodes, settings_.Location, block.ChannelCount, block.SampleRate);
        for (int c = 0; c < block.ChannelCount; ++c) {
            const std::vector<int32_t>& raw = block.Samples[static_cast<size_t>(c)];
            scaled.resize(raw.size());
            std::transform(raw.begin(), raw.end(), scaled.begin(),
                           [&](int32_t x) { return CountScale(x, block.BytesPerSample); });
            TStream& stream = StreamFor(codes[static_cast<size_t>(c)], false);
            Append(stream, scaled, block.Time, block.SampleRate, flags, quality);
            touched.push_back(&stream);
        }
    }
    std::vector<TStream*> soh;
    if (settings_.Soh) {
        for (const TSohStream& s :
             SohStreams(block.ChannelCount, block.Soh.HasModuleTemperatures)) {
            const int32_t value = SohValue(s, block.Soh);
            TStream& stream = StreamFor({settings_.Location, s.Channel}, true);
            Append(stream, std::span<const int32_t>(&value, 1), block.Time, 1.0, flags, quality);
            soh.push_back(&stream);
        }
    }
    // A stream that this block should have fed and did not (a channel or reading gone) ends:
    // its next sample would not follow its last.
    for (auto& [id, stream] : streams_) {
        if (!stream->Series) {
            continue;
        }
        const bool isSoh = std::find(soh.begin(), soh.end(), stream.get()) != soh.end();
        const bool isData =
            std::find(touched.begin(), touched.end(), stream.get()) != touched.end();
        const bool dataMayWait = !block.HasSamples() && !stream->Soh;
        if (!isSoh && !isData && !dataMayWait) {
            EndSeries(*stream);
        }
    }

    if (block.Time - lastFlush_ >= settings_.FlushSeconds) {
        Flush();
        Prune();
        lastFlush_ = block.Time;
    }
}

void TSdsWriter::Prune() {
    if ((settings_.KeepDays <= 0 && settings_.MinFreePercent <= 0) || !haveLast_) {
        return;
    }
    namespace fs = std::filesystem;
    // The day files by day (YEAR.DOY as a number, YEAR * 1000 + DOY), oldest first.
    std::map<int, std::vector<fs::path>> days;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(settings_.Root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        int year = 0;
        int doy = 0;
        char end = 0;
        const size_t at = name.rfind(".D.");
        if (at != std::string::npos && it->is_regular_file(ec) &&
            std::sscanf(name.c_str() + at, ".D.%4d.%3d%c", &year, &doy, &end) == 2) {
            days[year * 1000 + doy].push_back(it->path());
        }
    }
    const TSeedCivil today = CivilOf(TSeedTime{lastTime_, 0});
    const int current = today.Year * 1000 + DayOfYear(today.Year, today.Month, today.Day);
    const int64_t oldest = lastTime_ - int64_t{settings_.KeepDays} * SecondsPerDay;
    const TSeedCivil keep = CivilOf(TSeedTime{oldest, 0});
    const int keepFrom =
        settings_.KeepDays > 0 ? keep.Year * 1000 + DayOfYear(keep.Year, keep.Month, keep.Day) : 0;
    const auto short_of_space = [&] {
        struct statvfs fs {};
        return settings_.MinFreePercent > 0 && statvfs(settings_.Root.c_str(), &fs) == 0 &&
               fs.f_blocks > 0 &&
               static_cast<double>(fs.f_bavail) * 100 <
                   static_cast<double>(fs.f_blocks) * settings_.MinFreePercent;
    };
    for (const auto& [day, files] : days) {
        if (day >= current || (day >= keepFrom && !short_of_space())) {
            break;
        }
        for (const fs::path& file : files) {
            if (fs::remove(file, ec)) {
                ++stats_.FilesRemoved;
                if (settings_.Spans) {
                    settings_.Spans->RemoveDayFile(file.string());
                }
                news_.Notices.push_back("removed " + file.string() +
                                        (day < keepFrom ? " (older than the days kept)"
                                                        : " (the disk is short of space)"));
            }
        }
    }
}

void TSdsWriter::Append(TStream& stream, std::span<const int32_t> samples, int64_t seriesStart,
                        double rate, uint8_t flags, int quality) {
    if (!stream.Series) {
        if (stream.NextSequence == 0) {
            // The numbering runs on from the day file's last record.
            std::string notice;
            const std::string path =
                SdsPath(settings_.Root, stream.Codes, TSeedTime{seriesStart, 0});
            if (stream.File.Open(path, notice)) {
                stream.NextSequence =
                    stream.File.LastSequence() >= 999999 ? 1 : stream.File.LastSequence() + 1;
            } else {
                stream.NextSequence = 1;
            }
            if (!notice.empty()) {
                news_.Notices.push_back(notice);
            }
        }
        stream.Series.emplace(
            TSeriesFormat{stream.Codes, rate, stream.RecordLength, TByteOrder::Big},
            TSeedTime{seriesStart, 0}, stream.NextSequence);
    }
    TMseedSeries& series = *stream.Series;
    const auto sink = [&](const TSeriesRecord& record) { Write(stream, record); };
    while (!samples.empty()) {
        // The day of the record being filled: that of its first sample.
        const int64_t first = series.Appended();
        const int64_t dayEnd = NextMidnight(series.TimeOf(first - series.Pending()));
        size_t n = samples.size();
        if (series.TimeOf(first + static_cast<int64_t>(n) - 1).Seconds >= dayEnd) {
            // The first sample at or after midnight.
            size_t lo = 0;
            size_t hi = n - 1;
            while (lo < hi) {
                const size_t mid = (lo + hi) / 2;
                if (series.TimeOf(first + static_cast<int64_t>(mid)).Seconds >= dayEnd) {
                    hi = mid;
                } else {
                    lo = mid + 1;
                }
            }
            n = lo;
        }
        series.Append(samples.first(n), flags, quality, sink);
        samples = samples.subspan(n);
        if (!samples.empty()) {
            series.Flush(sink);  // no record spans midnight
        }
    }
    stream.NextSequence = series.NextSequence();
}

void TSdsWriter::EndSeries(TStream& stream) {
    if (!stream.Series) {
        return;
    }
    stream.Series->Flush([&](const TSeriesRecord& record) { Write(stream, record); });
    stream.NextSequence = stream.Series->NextSequence();
    stream.Series.reset();
}

void TSdsWriter::EndAllSeries() {
    for (auto& [id, stream] : streams_) {
        EndSeries(*stream);
    }
}

void TSdsWriter::Flush() {
    for (auto& entry : streams_) {
        TStream& stream = *entry.second;
        if (stream.Series) {
            stream.Series->Flush([&](const TSeriesRecord& record) { Write(stream, record); });
        }
    }
    SyncFiles();
}

void TSdsWriter::Close() {
    EndAllSeries();
    WriteHeld();
    SyncFiles();
    for (auto& [id, stream] : streams_) {
        stream->File.Close();
    }
}

// A failed sync is an I/O error: records written may not be on the disk. It is reported once
// for each streak of a file's failures, and its end.
void TSdsWriter::SyncFiles() {
    for (auto& [id, stream] : streams_) {
        const TStatus synced = stream->File.Sync();
        if (!synced && !stream->SyncFailing) {
            NoteError(synced.Error().Text);
            news_.Reports.push_back("The archive's disk reports an error: " + synced.Error().Text +
                                    "; records written to it since its last sync may be lost.");
        } else if (synced && stream->SyncFailing) {
            news_.Notices.push_back("the archive's disk takes " + stream->File.Path() + " again");
        }
        stream->SyncFailing = !synced;
    }
}

void TSdsWriter::Write(TStream& stream, const TSeriesRecord& record) {
    if (heldBytes_ == 0 &&
        WriteOne(stream, record.Bytes, record.Start, record.End, record.Samples)) {
        return;
    }
    // Behind the records held: the disk takes them in time order, this one after them.
    stream.Held.push_back(
        THeldRecord{std::vector<uint8_t>(record.Bytes.begin(), record.Bytes.end()), record.Start,
                    record.End, record.Samples});
    heldBytes_ += record.Bytes.size();
    stats_.HeldBytes = heldBytes_;
}

// Of records that start together, that of the stream served longest ago goes first, so that
// a disk that takes only some of them shares out what it takes.
TSdsWriter::TStream* TSdsWriter::OldestHeld() {
    TStream* oldest = nullptr;
    for (auto& [id, stream] : streams_) {
        if (stream->Held.empty()) {
            continue;
        }
        if (oldest == nullptr || std::pair(stream->Held.front().Start, stream->LastWritten) <
                                     std::pair(oldest->Held.front().Start, oldest->LastWritten)) {
            oldest = stream.get();
        }
    }
    return oldest;
}

bool TSdsWriter::WriteHeld() {
    std::string path;
    while (TStream* stream = OldestHeld()) {
        const THeldRecord& held = stream->Held.front();
        if (!WriteOne(*stream, held.Bytes, held.Start, held.End, held.Samples)) {
            stats_.HeldBytes = heldBytes_;
            return false;
        }
        path = stream->File.Path();
        heldBytes_ -= held.Bytes.size();
        stream->Held.pop_front();
    }
    stats_.HeldBytes = heldBytes_;
    if (!path.empty()) {
        Recovered(path);
    }
    return true;
}

bool TSdsWriter::WriteOne(TStream& stream, std::span<const uint8_t> bytes, TSeedTime start,
                          TSeedTime end, size_t samples) {
    const std::string path = SdsPath(settings_.Root, stream.Codes, start);
    std::string notice;
    const TStatus opened = stream.File.Open(path, notice);
    if (!notice.empty()) {
        news_.Notices.push_back(notice);
    }
    if (const TStatus written = opened ? stream.File.Append(bytes, notice) : opened; !written) {
        Failed(written.Error().Text);
        return false;
    }
    if (!notice.empty()) {
        news_.Notices.push_back(notice);
    }
    if (heldBytes_ == 0) {
        Recovered(path);
    }
    stream.LastWritten = ++recordsWritten_;
    if (settings_.Spans) {
        settings_.Spans->AddRecord(bytes, NowMicroseconds());
    }
    TStreamStats& figures = StreamStats(stream.Id);
    figures.SamplesRecorded += static_cast<int64_t>(samples);
    figures.LastSample = end;
    return true;
}

void TSdsWriter::Failed(const std::string& error) {
    NoteError(error);
    if (streak_.Fail()) {
        news_.Reports.push_back(
            "The archive could not be written: " + error +
            ". Records are held in memory and written as soon as the disk takes them; further "
            "failures are not reported until every held record is written.");
    }
}

// The shortage is over only when nothing is held any more: a small record that fits while
// others wait is no recovery.
void TSdsWriter::Recovered(const std::string& path) {
    if (const std::optional<int> failures = streak_.Succeed()) {
        std::string text = "records are written to the archive again (" + path + ") after " +
                           std::to_string(*failures) + " failed attempts";
        if (!loss_.Empty()) {
            news_.Reports.push_back("The disk takes records again; while it did not, " +
                                    loss_.Text() + ".");
            loss_ = {};
        }
        news_.Notices.push_back(text);
    }
    dropping_ = false;
}

int64_t TSdsWriter::DropHeld(size_t limit) {
    int64_t dropped = 0;
    while (heldBytes_ > limit) {
        TStream* oldest = OldestHeld();
        if (oldest == nullptr) {
            break;
        }
        const THeldRecord& held = oldest->Held.front();
        loss_.Add(oldest->Id, static_cast<int64_t>(held.Samples), held.Start, held.End);
        heldBytes_ -= held.Bytes.size();
        dropped += static_cast<int64_t>(held.Samples);
        oldest->Held.pop_front();
    }
    stats_.HeldBytes = heldBytes_;
    stats_.DroppedSamples += dropped;
    if (dropped > 0 && !dropping_) {
        news_.Reports.push_back(
            "Memory for records the disk has not taken is full: the oldest of them are dropped "
            "to keep the newest; the loss is logged when the disk takes records again.");
        dropping_ = true;
    }
    return dropped;
}

int64_t TSdsWriter::DropAllHeld() {
    const size_t bytes = heldBytes_;
    const int64_t dropped = DropHeld(0);
    if (!loss_.Empty()) {
        news_.Reports.push_back(
            "The recording ends while the disk does not take records: " + std::to_string(bytes) +
            " bytes of records held are lost; in all " + loss_.Text() + ".");
        loss_ = {};
    }
    dropping_ = false;
    return dropped;
}
