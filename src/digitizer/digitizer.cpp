#include "digitizer/digitizer.h"

#include <chrono>

TDigitizer::TDigitizer(uint8_t portNumber, uint32_t baudRate, TPostFunction post,
                       std::string devicePath)
    : devicePath_(std::move(devicePath)), receiver_(queue_, std::move(post)) {
    Start(portNumber, baudRate);
}

TDigitizer::~TDigitizer() {
    StopReader();
}

bool TDigitizer::Start(uint8_t portNumber, uint32_t baudRate) {
    if (port_) {
        Stop();
    }
    receiver_.Restart();
    hungUp_.store(false);
    port_ = std::make_unique<TCommPort>(portNumber, baudRate, 0, 0, 0, 0, 8, devicePath_);
    TCommPort* port = port_.get();
    // An unopened port gets no reader thread: it would end at once.
    port->StartReader([this, port] { ReaderThread(port); });
    return port->IsOpen();
}

void TDigitizer::Stop() {
    const bool ended = port_ && port_->IsOpen() && !hungUp_.load();
    StopReader();
    if (ended) {
        // A whole frame that waited for the next tag to end it goes out before a restart
        // forgets it (a hang-up has done this already).
        receiver_.LineEnded();
    }
}

void TDigitizer::StopReader() {
    if (port_) {
        port_->Close();  // the reader thread finishes its pass, SendNext included
        port_.reset();
    }
    while (queue_.Length() > 0) {
        Pop();
    }
    // A memory read discarded above must not turn the next session's frames
    // into a raw capture.
    queue_.ClearReadBack();
}

// One pass: wait for bytes (at most a second), take them all, then give the
// head command one transmission. Close only clears IsOpen and wakes the wait,
// so the pass in progress finishes; and the pass that sees IsOpen cleared is
// the last one, so the command at the head when the link stops always goes out
// once more while the port is still open (a baud change relies on this).
void TDigitizer::ReaderThread(TCommPort* port) {
    using Clock = std::chrono::steady_clock;
    uint8_t chunk[ReadChunkSize];
    for (;;) {
        const auto passStart = Clock::now();
        auto result = port->WaitForData(ReaderWaitMs);
        if (result == TCommPort::TWaitResult::Readable) {
            if (queue_.Length() == 0) {
                // Nothing waits for an echo: the line gathers a little more before it is
                // read, so that a stream arriving in small pieces does not wake the reader
                // for each one. Stop still wakes it at once.
                port->WaitForWake(GatherMs);
            }
            bool any = false;
            int n;
            while ((n = port->Read(chunk, ReadChunkSize)) > 0) {
                any = true;
                Receive(chunk, n);
            }
            if (!any) {
                // Readable yet nothing to read: the device has gone away.
                result = TCommPort::TWaitResult::HangUp;
            }
        }
        if (result == TCommPort::TWaitResult::HangUp) {
            if (!hungUp_.exchange(true)) {
                receiver_.LineEnded();  // a whole last frame still goes out
            }
            // Do not spin on a dead device: sit out the rest of the pass; the
            // watchdog restarts the link as for a silent line.
            auto spent =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - passStart);
            port->WaitForWake(ReaderWaitMs - static_cast<int>(spent.count()));
        }
        const bool closing = !port->IsOpen();
        SendNext();
        if (closing) {
            return;
        }
    }
}

void TDigitizer::SendNext() {
    if (!port_) {
        return;
    }
    std::vector<uint8_t> data;
    switch (queue_.TakeForSending(data)) {
        case TCommandQueue::TSend::Nothing:
            break;
        case TCommandQueue::TSend::Expired:
            Pop();
            break;
        case TCommandQueue::TSend::Send:
            port_->Write(data.data(), static_cast<int>(data.size()));
            break;
    }
}

void TDigitizer::Enqueue(const uint8_t* bytes, int length, int repeat) {
    if (length < 0) {
        return;
    }
    EnqueueCommand(std::vector<uint8_t>(bytes, bytes + length), repeat);
}

void TDigitizer::EnqueueCommand(std::vector<uint8_t> bytes, int repeat) {
    queue_.Enqueue(std::move(bytes), repeat);
}
