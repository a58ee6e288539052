// The link to the digitizer: the serial port, the reader thread that frames
// and decodes the stream, the queue of outgoing commands and their echoes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "digitizer/comm_port.h"
#include "digitizer/command_queue.h"
#include "digitizer/data_block.h"
#include "digitizer/receiver.h"

// The event type that carries a TDataBlock to the main thread.
constexpr int WM_DIGITIZER_BLOCK = 0x8000;

constexpr int ReadChunkSize = 2048;
constexpr int ReaderWaitMs = 1000;
// How long the reader lets data gather after a read while no command waits for its echo.
constexpr int GatherMs = 20;

class TDigitizer {
  public:
    // Hands a decoded block to the main thread; false means the block was not
    // taken and the link frees it. Called on the reader thread.
    using TPostFunction = TReceiver::TPostFunction;

    // Starts the link at once. An empty device path names the device from the
    // port number.
    TDigitizer(uint8_t portNumber, uint32_t baudRate, TPostFunction post,
               std::string devicePath = {});
    ~TDigitizer();
    TDigitizer(const TDigitizer&) = delete;
    TDigitizer& operator=(const TDigitizer&) = delete;

    // (Re)starts the link, stopping a running one first.
    bool Start(uint8_t portNumber, uint32_t baudRate);
    // Stops the link. A whole frame still waiting for the next tag to end it is decoded and
    // posted (on the caller's thread), so that a restart after a silence loses nothing. The
    // destructor stops without posting.
    void Stop();

    // The port of the running link, or none while stopped.
    const TCommPort* Port() const { return port_.get(); }
    const std::string& DevicePath() const { return devicePath_; }
    void SetDevicePath(std::string path) { devicePath_ = std::move(path); }
    // The reader of the running link has seen the device hang up (unplugged, or the far end
    // of a pseudo-terminal closed); cleared by Start.
    bool HungUp() const { return hungUp_.load(); }

    // Receive path, run by the reader thread (public so that the framing can be
    // exercised on its own).
    bool Receive(const uint8_t* bytes, int count) { return receiver_.Receive(bytes, count); }
    int MatchEcho(const uint8_t* bytes, int left) const { return receiver_.MatchEcho(bytes, left); }
    void SendNext();
    void Pop() { receiver_.Pop(); }

    void Enqueue(const uint8_t* bytes, int length, int repeat);
    int QueueLength() const { return queue_.Length(); }

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
    bool BootWait() const { return receiver_.BootWait(); }
    void SetBootWait(bool on) { receiver_.SetBootWait(on); }
    int ReadBackMode() const { return queue_.ReadBackMode(); }
    int PendingWrites() const { return queue_.PendingWrites(); }
    int RxPos() const { return receiver_.RxPos(); }
    bool Synced() const { return receiver_.Synced(); }
    int FrameErrors() const { return receiver_.FrameErrors(); }
    // Copies up to `count` bytes from the start of the receive buffer (the
    // capture of a memory read once ReadBackMode is back at 0).
    int CopyCapture(uint8_t* out, int count) const { return receiver_.CopyCapture(out, count); }

  private:
    void StopReader();
    void ReaderThread(TCommPort* port);
    void EnqueueCommand(std::vector<uint8_t> bytes, int repeat);
    void EnqueueFixed(const char* letters, int repeat);
    void EnqueueWithArgument(const char* letters, uint16_t argument, int repeat);

    std::unique_ptr<TCommPort> port_;
    std::string devicePath_;
    std::atomic<bool> hungUp_{false};
    TCommandQueue queue_;
    TReceiver receiver_;
};
