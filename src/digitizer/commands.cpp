// The digitizer's commands: "$" and two letters, an optional big-endian
// argument, queued on the link with their send counts.
#include <cmath>
#include <cstring>

#include "digitizer/digitizer.h"

namespace {

constexpr int SendThrice = 3;
constexpr int SendOnce = 1;
constexpr int SendUntilEchoed = -1;

struct TRateRow {
    int code;  // rate x 10
    uint8_t factors[5];
    int count;
};

// Decimation factors of filter stages 3 to 7 per rate; their product is 3000 / rate.
constexpr TRateRow RateTable[] = {
    {1, {6, 10, 10, 10, 5}, 5}, {2, {6, 10, 10, 5, 5}, 5}, {5, {6, 10, 10, 5, 2}, 5},
    {10, {12, 10, 5, 5}, 4},    {20, {6, 10, 5, 5}, 4},    {40, {6, 5, 5, 5}, 4},
    {50, {12, 10, 5}, 3},       {100, {6, 10, 5}, 3},      {200, {3, 10, 5}, 3},
    {250, {12, 10}, 2},         {400, {3, 5, 5}, 3},       {500, {12, 5}, 2},
    {750, {4, 10}, 2},          {1000, {6, 5}, 2},         {1200, {1, 5, 5}, 3},
    {1250, {12, 2}, 2},         {1500, {4, 5}, 2},         {2000, {3, 5}, 2},
    {2500, {12, 1}, 2},         {3000, {1, 10}, 2},        {3750, {4, 2}, 2},
    {5000, {6, 1}, 2},          {6000, {1, 5}, 2},         {7500, {4, 1}, 2},
    {10000, {3, 1}, 2},         {30000, {1, 1}, 2},
};
constexpr TRateRow OtherRate = {0, {4, 10}, 2};

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

std::vector<uint8_t> SampleRateFactors(double rate) {
    const double scaled = rate * 10;
    const int code =
        std::isfinite(scaled) && std::fabs(scaled) < 1e9 ? static_cast<int>(scaled) : -1;
    const TRateRow* row = &OtherRate;
    for (const auto& candidate : RateTable) {
        if (candidate.code == code) {
            row = &candidate;
            break;
        }
    }
    return std::vector<uint8_t>(row->factors, row->factors + row->count);
}

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
