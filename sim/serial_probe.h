// The program's end of the line, reduced to what tests and tools need: opens a serial device
// raw at a given rate, writes commands, collects what arrives, takes echoes out of it and
// decodes the frames in it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "digitizer/data_block.h"

struct TBlockDeleter {
    void operator()(TDataBlock* block) const { FreeBlock(block); }
};
using TBlockPtr = std::unique_ptr<TDataBlock, TBlockDeleter>;

// Length of the frame that starts at `data` as its record lengths declare it (MOD, MDE when
// tagged, DAT and a 12-byte SUM record); 0 when the first `available` bytes do not yet tell,
// -1 when they cannot start a frame.
long DeclaredFrameLength(const uint8_t* data, size_t available);

class TSerialProbe {
  public:
    TSerialProbe() = default;
    TSerialProbe(const TSerialProbe&) = delete;
    TSerialProbe& operator=(const TSerialProbe&) = delete;
    ~TSerialProbe() { Close(); }

    // Opens the device read-write without becoming its controlling terminal, raw, at `baud`.
    bool Open(const std::string& path, int baud);
    bool SetBaud(int baud);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    bool Write(const std::vector<uint8_t>& bytes);
    bool Write(std::string_view bytes);

    // Waits up to `timeout` for bytes and appends what arrived to Received(); returns the
    // number of bytes (0 also after a hang-up).
    size_t Poll(std::chrono::milliseconds timeout);
    // Polls until `done()` holds (tested after every arrival) or `timeout` passes.
    bool ReadUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    std::vector<uint8_t>& Received() { return received_; }
    // Forgets everything received so far, also what the device still holds unread.
    void Discard();

    // Removes the first occurrence of `echo` from Received(), as the program's link does with
    // an echo wherever it arrives; false when it is not there.
    bool TakeEcho(std::string_view echo);

    // Decodes every complete frame received so far into Frames(), removing its bytes, and
    // drops bytes that cannot belong to a frame. A frame ends at a later "MOD" tag (one inside
    // its samples is passed over) or, at the end of what has arrived, where its record lengths
    // say. A tag from which nothing decodes although three more tags have come starts a
    // damaged frame, which is dropped. Returns the number of frames added.
    size_t TakeFrames();
    std::vector<TBlockPtr>& Frames() { return frames_; }
    // Damaged frames dropped so far.
    size_t FailedFrames() const { return failed_; }

  private:
    int fd_ = -1;
    std::vector<uint8_t> received_;
    std::vector<TBlockPtr> frames_;
    size_t failed_ = 0;
};
