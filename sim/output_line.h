// The unit's transmit queue: frames and lines appended at the end, echoes slipped in at the
// current position (between bytes of a frame, as the unit interleaves them), taken out in
// paced chunks.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class TOutputLine {
  public:
    enum class TKind { Data, Frame, Echo };

    struct TSegment {
        std::vector<uint8_t> Bytes;
        TKind Kind = TKind::Data;
        std::chrono::milliseconds PauseAfter{0};  // line idle this long after the segment
        int SwitchBaud = 0;                       // line rate to take after the segment
        size_t Pos = 0;                           // bytes already taken
    };

    // What one chunk carries and what follows it. A chunk ends early after a segment that
    // asks for a pause or a rate switch.
    struct TChunk {
        std::vector<uint8_t> Bytes;
        int FramesCompleted = 0;
        size_t FrameBytes = 0;  // bytes of frames among Bytes
        int SwitchBaud = 0;
        std::chrono::milliseconds Pause{0};
    };

    void Append(TSegment segment);
    // Before everything waiting except echoes that are already waiting.
    void InsertEcho(TSegment segment);
    TChunk Take(size_t budget);

    bool Empty() const { return segments_.empty(); }
    bool HasFrame() const;
    // Bytes waiting to be taken.
    size_t Pending() const { return pending_; }
    void Clear() {
        segments_.clear();
        pending_ = 0;
    }

  private:
    std::deque<TSegment> segments_;
    size_t pending_ = 0;
};
