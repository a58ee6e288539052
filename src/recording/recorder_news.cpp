#include "recording/recorder_news.h"

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
