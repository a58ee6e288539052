#include "recording/recorder_news.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "recording/archive_writer.h"

void TRecordingNews::Append(TRecordingNews&& other) {
    Reports.insert(Reports.end(), std::make_move_iterator(other.Reports.begin()),
                   std::make_move_iterator(other.Reports.end()));
    Notices.insert(Notices.end(), std::make_move_iterator(other.Notices.begin()),
                   std::make_move_iterator(other.Notices.end()));
}

TStreamStats& TArchiveWriter::StreamStats(const std::string& id) {
    for (TStreamStats& stream : stats_.Streams) {
        if (stream.Id == id) {
            return stream;
        }
    }
    stats_.Streams.push_back({id, 0, std::nullopt});
    return stats_.Streams.back();
}

void TArchiveWriter::NoteError(const std::string& text) {
    stats_.LastError = text;
    stats_.LastErrorTime = static_cast<int64_t>(std::time(nullptr));
}

std::string UtcText(TSeedTime time) {
    const TSeedCivil c = CivilOf(time);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%04dZ", c.Year, c.Month, c.Day,
                  c.Hour, c.Minute, c.Second, c.Ticks);
    return text;
}

void TStreamLoss::Add(const std::string& id, int64_t samples, TSeedTime start, TSeedTime end) {
    if (samples <= 0) {
        return;
    }
    if (PerStream.empty()) {
        From = start;
        To = end;
    }
    From = std::min(From, start);
    To = std::max(To, end);
    PerStream[id] += samples;
}

int64_t TStreamLoss::Samples() const {
    int64_t total = 0;
    for (const auto& [id, samples] : PerStream) {
        total += samples;
    }
    return total;
}

std::string TStreamLoss::Text() const {
    std::string text = std::to_string(Samples()) + " samples lost, from " + UtcText(From) + " to " +
                       UtcText(To) + ":";
    for (const auto& [id, samples] : PerStream) {
        text += " " + id + " " + std::to_string(samples);
    }
    return text;
}
