// The receive side of the link: cuts the byte stream into frames and has them
// decoded, takes the echoes of queued commands out of it, captures the answer
// to a memory read and waits for the boot loader's ready line. Runs on the
// link's reader thread; the mode flags and the position are read by the main
// thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "digitizer/command_queue.h"
#include "digitizer/data_block.h"

constexpr int RxBufferSize = 16000;

class TReceiver {
  public:
    // Hands a decoded block on; false means it was not taken and the receiver
    // frees it.
    using TPostFunction = std::function<bool(TDataBlock*)>;

    TReceiver(TCommandQueue& queue, TPostFunction post);
    TReceiver(const TReceiver&) = delete;
    TReceiver& operator=(const TReceiver&) = delete;

    // Takes one chunk as read from the port; true when a block was posted.
    bool Receive(const uint8_t* bytes, int count);
    // Bytes at `bytes` recognised as the head command's echo: 0, 3 or 5.
    int MatchEcho(const uint8_t* bytes, int left) const;
    // Removes the head command; removing a memory read starts the capture of
    // its answer in a fresh buffer.
    void Pop();
    // The line has ended (the device hung up): the frame that waits for the next tag to end
    // it is tried with the bytes that came, so that a whole last frame is not lost with the
    // device. True when a block was posted. Nothing happens while capturing a memory read or
    // waiting for the boot loader.
    bool LineEnded();
    // Forgets everything collected: position, remembered tags, synchronisation.
    // Every reset of the position outside framing goes through here.
    void Restart() { Restart(0); }

    bool BootWait() const { return bootWait_.load(); }
    void SetBootWait(bool on) { bootWait_.store(on); }
    int RxPos() const { return rxPos_.load(); }
    // Read by the main thread too: a tag has been seen since the last restart.
    bool Synced() const { return synced_.load(); }
    int FrameErrors() const { return frameErrors_; }
    // Copies up to `count` bytes from the start of the buffer (the capture of
    // a memory read once ReadBackMode is back at 0).
    int CopyCapture(uint8_t* out, int count) const;

  private:
    // Keeps the last `tail` bytes collected at the start of the buffer.
    void Restart(int tail);
    bool StoreLine(uint8_t b);
    void StoreCapture(uint8_t b);
    void StoreFramed(const uint8_t* run, int n, bool& posted);
    void TagStored(bool& posted);
    void MakeRoom(bool& posted);
    bool TryCandidates(int end, bool& posted);
    void KeepFrom(int from);
    void CountFailure();

    TCommandQueue& queue_;
    TPostFunction post_;

    uint8_t rxBuffer_[RxBufferSize] = {};
    std::atomic<int> rxPos_{0};
    std::atomic<bool> synced_{false};
    // Where each "MOD" tag stands that may still begin a frame, oldest first;
    // while synchronised the first is at 0.
    std::vector<int> tags_;
    int frameErrors_ = 0;
    std::atomic<bool> bootWait_{false};
    bool bootWaitSeen_ = false;  // BootWait as the last byte saw it
};
