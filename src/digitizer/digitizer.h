// The link to the digitizer: the serial port, the reader thread that frames
// and decodes the stream, the queue of outgoing commands and their echoes.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "digitizer/comm_port.h"
#include "digitizer/data_block.h"

// The event type that carries a TDataBlock to the main thread.
constexpr int WM_DIGITIZER_BLOCK = 0x8000;

constexpr int RxBufferSize = 16000;
constexpr int ReadChunkSize = 2048;
constexpr int ReaderWaitMs = 1000;

// One queued command: its bytes and the sends left (-1: until echoed).
struct TCommandNode {
    int32_t Repeat = 0;
    std::vector<uint8_t> Data;
    int32_t Length() const { return static_cast<int32_t>(Data.size()); }
};

class TDigitizer {
  public:
    // Hands a decoded block to the main thread; false means the block was not
    // taken and the link frees it. Called on the reader thread.
    using TPostFunction = std::function<bool(TDataBlock*)>;

    // Starts the link at once. An empty device path names the device from the
    // port number.
    TDigitizer(uint8_t portNumber, uint32_t baudRate, TPostFunction post,
               std::string devicePath = {});
    ~TDigitizer();
    TDigitizer(const TDigitizer&) = delete;
    TDigitizer& operator=(const TDigitizer&) = delete;

    bool Start(uint8_t portNumber, uint32_t baudRate);
    void Stop();

    // The port of the running link, or none while stopped.
    const TCommPort* Port() const { return port_.get(); }
    const std::string& DevicePath() const { return devicePath_; }
    void SetDevicePath(std::string path) { devicePath_ = std::move(path); }

    // Receive path, run by the reader thread (public so that the framing can be
    // exercised on its own).
    bool Receive(const uint8_t* bytes, int count);
    int MatchEcho(const uint8_t* bytes, int left);
    void SendNext();
    void Pop();

    void Enqueue(const uint8_t* bytes, int length, int repeat);
    int QueueLength() const;

    // Command builders: each queues one command (see commands.cpp).
    void SetCalibration(int mode);
    void SetPllCalibration(int setting);
    void SetBaudRate(int rateIndex);
    void ConfirmBaud();
    void SetBytesPerSample(int bytes);
    void SetSampleRate(double rate);
    void SetComponents(uint16_t flags);
    void SetFilterType(int code);
    void SetLineOutput(uint16_t flags);
    void SetPowerSupplies(uint16_t flags);
    void WriteRom();
    void RestoreDefaults();
    void SetEnhancedHeader(bool on);
    void SendBH(int count);
    void SendPC0();
    void SendPC1();
    void Reboot();
    void ReadMemory(uint32_t byteAddress, uint16_t byteCount);
    void ReadSerialNumber();
    void WriteMemory(uint32_t byteAddress, uint16_t byteCount, const uint8_t* data);

    // Mode flags shared with the upload procedure.
    bool BootWait() const { return bootWait_.load(); }
    void SetBootWait(bool on) { bootWait_.store(on); }
    int ReadBackMode() const { return readBackMode_.load(); }
    int PendingWrites() const { return pendingWrites_.load(); }
    int RxPos() const { return rxPos_.load(); }
    bool Synced() const { return synced_; }
    int FrameErrors() const { return frameErrors_; }
    // Copies up to `count` bytes from the start of the receive buffer (the
    // capture of a memory read once ReadBackMode is back at 0).
    int CopyCapture(uint8_t* out, int count) const;

  private:
    struct TEchoHead {
        bool valid = false;
        uint8_t tag[3] = {};
        bool isMemoryWrite = false;
        uint16_t dataSum = 0;
    };

    void ReaderThread(TCommPort* port);
    void EnqueueCommand(std::vector<uint8_t> bytes, int repeat);
    void EnqueueFixed(const char* letters, int repeat);
    void EnqueueWithArgument(const char* letters, uint16_t argument, int repeat);
    TEchoHead SnapshotHead() const;
    static int MatchEchoAgainst(const TEchoHead& head, const uint8_t* bytes, int left);
    void PopLocked();
    void StoreFramed(uint8_t byte, bool& posted);
    void TryCandidates(bool& posted);
    void Resynchronise();

    std::unique_ptr<TCommPort> port_;
    std::string devicePath_;
    TPostFunction post_;

    uint8_t rxBuffer_[RxBufferSize] = {};
    std::atomic<int> rxPos_{0};
    bool synced_ = false;
    bool bootWaitSeen_ = false;  // BootWait as the receiver last saw it
    int frameErrors_ = 0;
    // Where each "MOD" tag stood since the last good frame; the first is at 0.
    std::vector<int> tagPositions_;

    std::atomic<bool> bootWait_{false};
    std::atomic<int> pendingWrites_{0};
    std::atomic<int> readBackMode_{0};

    mutable std::mutex queueLock_;
    std::deque<TCommandNode> queue_;
};
