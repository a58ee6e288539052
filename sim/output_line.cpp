#include "sim/output_line.h"

#include <algorithm>

void TOutputLine::Append(TSegment segment) {
    if (!segment.Bytes.empty()) {
        pending_ += segment.Bytes.size() - segment.Pos;
        segments_.push_back(std::move(segment));
    }
}

void TOutputLine::InsertEcho(TSegment segment) {
    if (segment.Bytes.empty()) {
        return;
    }
    segment.Kind = TKind::Echo;
    pending_ += segment.Bytes.size() - segment.Pos;
    auto at = segments_.begin();
    while (at != segments_.end() && at->Kind == TKind::Echo) {
        ++at;
    }
    segments_.insert(at, std::move(segment));
}

TOutputLine::TChunk TOutputLine::Take(size_t budget) {
    TChunk chunk;
    while (budget > 0 && !segments_.empty()) {
        TSegment& s = segments_.front();
        const size_t left = s.Bytes.size() - s.Pos;
        size_t n = std::min(budget, left);
        if (s.Kind == TKind::Echo && n < left) {
            // The unit sends an echo in one burst: it goes out in one write, in
            // the next chunk when this one has no room left for it.
            if (!chunk.Bytes.empty()) {
                break;
            }
            n = left;
        }
        chunk.Bytes.insert(chunk.Bytes.end(), s.Bytes.begin() + s.Pos, s.Bytes.begin() + s.Pos + n);
        s.Pos += n;
        chunk.FrameBytes += s.Kind == TKind::Frame ? n : 0;
        budget -= std::min(budget, n);
        pending_ -= n;
        if (s.Pos < s.Bytes.size()) {
            break;
        }
        const bool stop = s.PauseAfter.count() > 0 || s.SwitchBaud != 0;
        chunk.FramesCompleted += s.Kind == TKind::Frame ? 1 : 0;
        chunk.SwitchBaud = s.SwitchBaud;
        chunk.Pause = s.PauseAfter;
        segments_.pop_front();
        if (stop) {
            break;
        }
    }
    return chunk;
}

bool TOutputLine::HasFrame() const {
    return std::any_of(segments_.begin(), segments_.end(),
                       [](const TSegment& s) { return s.Kind == TKind::Frame; });
}
