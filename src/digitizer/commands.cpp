// The digitizer's commands: "$" and two letters, an optional big-endian
// argument, queued on the link with their send counts.
#include <cstring>

#include "digitizer/digitizer.h"
#include "digitizer/protocol.h"

namespace {

constexpr int SendThrice = 3;
constexpr int SendOnce = 1;
constexpr int SendUntilEchoed = -1;

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

std::vector<uint8_t> Letters(const char* letters) {
    return std::vector<uint8_t>(letters, letters + 3);
}

// "$UR" and "$DR" address memory in 16-bit words.
std::vector<uint8_t> MemoryCommand(const char* letters, uint32_t byteAddress, uint16_t byteCount) {
    std::vector<uint8_t> bytes = Letters(letters);
    PutBigEndian(bytes, byteAddress >> 1, 4);
    PutBigEndian(bytes, byteCount / 2u, 2);
    return bytes;
}

}  // namespace

void TDigitizer::EnqueueFixed(const char* letters, int repeat) {
    EnqueueCommand(Letters(letters), repeat);
}

void TDigitizer::EnqueueWithArgument(const char* letters, uint16_t argument, int repeat) {
    std::vector<uint8_t> bytes = Letters(letters);
    PutBigEndian(bytes, argument, 2);
    EnqueueCommand(std::move(bytes), repeat);
}

void TDigitizer::SetCalibration(int mode) {
    EnqueueWithArgument("$CA", static_cast<uint8_t>(mode), SendThrice);
}

void TDigitizer::SetPllCalibration(int setting) {
    EnqueueWithArgument("$CP", static_cast<uint8_t>(setting), SendThrice);
}

void TDigitizer::SetBaudRate(int rateIndex) {
    EnqueueWithArgument("$BA", static_cast<uint8_t>(rateIndex), SendThrice);
}

void TDigitizer::ConfirmBaud() {
    EnqueueFixed("$OK", SendThrice);
}

void TDigitizer::SetBytesPerSample(int bytes) {
    EnqueueWithArgument("$NB", static_cast<uint8_t>(bytes), SendThrice);
}

void TDigitizer::SetSampleRate(double rate) {
    // Unlike the other builders this one queues nothing while the link is
    // stopped: a rate change is only ever sent to a running digitizer.
    if (!port_) {
        return;
    }
    std::vector<uint8_t> bytes;
    uint8_t stage = 3;
    for (uint8_t factor : SampleRateFactors(rate)) {
        bytes.insert(bytes.end(), {'$', 'S', 'F', stage++, factor});
    }
    EnqueueCommand(std::move(bytes), SendThrice);
}

void TDigitizer::SetComponents(uint16_t flags) {
    EnqueueWithArgument("$SC", flags, SendThrice);
}

void TDigitizer::SetFilterType(int code) {
    EnqueueWithArgument("$FT", static_cast<uint8_t>(code), SendThrice);
}

void TDigitizer::SetLineOutput(uint16_t flags) {
    EnqueueWithArgument("$LI", flags, SendThrice);
}

void TDigitizer::SetPowerSupplies(uint16_t flags) {
    EnqueueWithArgument("$SP", flags, SendThrice);
}

void TDigitizer::WriteRom() {
    EnqueueFixed("$RW", SendThrice);
}

void TDigitizer::RestoreDefaults() {
    EnqueueFixed("$RD", SendThrice);
}

void TDigitizer::SetEnhancedHeader(bool on) {
    EnqueueWithArgument("$EM", on ? 1 : 0, SendThrice);
}

void TDigitizer::SendBH(int count) {
    for (int i = 0; i < count; ++i) {
        EnqueueFixed("$BH", SendOnce);
    }
}

void TDigitizer::SendPC0() {
    EnqueueWithArgument("$PC", 0, SendOnce);
}

void TDigitizer::SendPC1() {
    EnqueueWithArgument("$PC", 1, SendOnce);
}

void TDigitizer::Reboot() {
    EnqueueWithArgument("$BR", 0, SendThrice);
}

void TDigitizer::ReadMemory(uint32_t byteAddress, uint16_t byteCount) {
    queue_.EnqueueMemoryRead(MemoryCommand("$UR", byteAddress, byteCount), SendUntilEchoed);
}

void TDigitizer::ReadSerialNumber() {
    ReadMemory(0x1FF0, 8);
}

void TDigitizer::WriteMemory(uint32_t byteAddress, uint16_t byteCount, const uint8_t* data) {
    std::vector<uint8_t> bytes = MemoryCommand("$DR", byteAddress, byteCount);
    bytes.insert(bytes.end(), data, data + byteCount);
    queue_.EnqueueMemoryWrite(std::move(bytes), SendUntilEchoed);
}
