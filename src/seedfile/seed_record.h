// One SEED data record of 4096 bytes: the fixed section of data header, blockette 1000 and 63
// Steim-1 frames, every binary field little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "seedfile/seed_time.h"

inline constexpr size_t SeedRecordLength = 4096;
inline constexpr size_t SeedHeaderLength = 48;
inline constexpr size_t SeedBlocketteOffset = 48;
inline constexpr size_t SeedDataOffset = 64;
// Records made as the data arrives carry blockette 1001 after blockette 1000, in the eight
// bytes before the data.
inline constexpr size_t SeedBlockette1001Offset = 56;
inline constexpr int SteimFrameCount = 63;
inline constexpr int SteimFrameWords = 16;
inline constexpr size_t SteimFramesLength = SteimFrameCount * SteimFrameWords * 4;  // 4032
// 943 data words of four 8-bit differences.
inline constexpr size_t MaxRecordSamples = (SteimFrameCount * (SteimFrameWords - 1) - 2) * 4;

using TSeedRecord = std::array<uint8_t, SeedRecordLength>;

// The byte order of every binary field of a record. The data files of the window are
// little-endian; the archive and the network use the standard's big-endian order.
enum class TByteOrder { Little, Big };

// The I/O and clock flags bit that says the time came from a locked clock (GPS).
inline constexpr uint8_t SeedClockLocked = 0x20;

// The codes a record and its file name carry. Station, location and network are written into
// the header left-aligned, padded with spaces and cut to 5, 2 and 2 characters; the channel
// code to 3.
struct TSeedCodes {
    std::string Station;
    std::string Location;
    std::string Network;
    std::string Channel;  // "P_0" to "P_5"
};

// The samples of one file in order, held in one or more contiguous pieces (a list kept in
// chunks gives one piece per chunk). The pieces are not owned.
class TSampleView {
  public:
    TSampleView() = default;
    TSampleView(std::span<const int32_t> samples);    // NOLINT: one piece
    TSampleView(const std::vector<int32_t>& samples)  // NOLINT: one piece
        : TSampleView(std::span<const int32_t>(samples)) {}
    explicit TSampleView(std::vector<std::span<const int32_t>> pieces);

    size_t Size() const { return size_; }
    int32_t operator[](size_t index) const;
    // Copies samples [first, first + count) into `out`, each divided by `divisor` (signed
    // division, rounding toward zero).
    void Gather(size_t first, size_t count, int32_t divisor, int32_t* out) const;

  private:
    std::vector<std::span<const int32_t>> pieces_;
    std::vector<size_t> starts_;  // index of each piece's first sample
    size_t size_ = 0;
};

// Bytes a difference needs: 1 for -128..127, 2 for -32768..32767, else 4.
int DifferenceSize(int32_t difference);
// Sixteen 2-bit codes, the first in the two most significant bits.
uint32_t PackControlWord(std::span<const uint8_t, 16> codes);

// The sample rate factor and multiplier of the header: at 1 sample per second or more the
// rate with its fraction dropped and 1; below that 1 and minus the whole part of 1 / rate
// (0.1 gives 1 and -10). Computed from the exact fraction of the rate; 0 and 0 for a rate that
// is not positive.
struct TRateFactors {
    int16_t Factor = 0;
    int16_t Multiplier = 0;
};
TRateFactors RateFactorAndMultiplier(double sampleRate);
// The factor and multiplier that give the rate exactly where the fields can: a whole rate is
// N and 1, a rate of 1 / N is 1 and -N, any other fraction N / D is N and -D (100 / 3 gives 100
// and -3, so that readers time the samples right); otherwise as RateFactorAndMultiplier.
TRateFactors ExactRateFactors(double sampleRate);

// BTIME: year, day of year, hour, minute, second, 0, ten-thousandths of a second.
std::array<uint8_t, 10> MakeBTime(TSeedTime time, TByteOrder order = TByteOrder::Little);
// The fixed section of data header, bytes 0 to 47, with `ioFlags` as the I/O and clock flags;
// the rate as RateFactorAndMultiplier gives it, or as `factors` say.
std::array<uint8_t, SeedHeaderLength> MakeFixedHeader(int sequenceNumber, const TSeedCodes& codes,
                                                      double sampleRate, int sampleCount,
                                                      TSeedTime startTime,
                                                      TByteOrder order = TByteOrder::Little,
                                                      uint8_t ioFlags = 0);
std::array<uint8_t, SeedHeaderLength> MakeFixedHeader(int sequenceNumber, const TSeedCodes& codes,
                                                      TRateFactors factors, int sampleCount,
                                                      TSeedTime startTime, TByteOrder order,
                                                      uint8_t ioFlags);
// Blockette 1000: Steim-1, records of 2^lengthExponent bytes (4096 unless said), followed by
// the blockette at byte `next` (0: none).
std::array<uint8_t, 8> MakeBlockette1000(TByteOrder order = TByteOrder::Little,
                                         int lengthExponent = 12, uint16_t next = 0);
// Blockette 1001 (data extension), the last: timing quality 0 to 100, no microseconds beyond
// the header's time, and the Steim frames the record holds.
std::array<uint8_t, 8> MakeBlockette1001(TByteOrder order, int timingQuality, int frameCount);

// Greedy Steim-1 of `count` samples (already divided) into the 4032-byte frame area `frames`,
// which must be zero: takes as many samples as fit, from the first, each difference against
// the one before (the first against `previousSample`), and leaves in `previousSample` the last
// sample taken. Returns the samples taken (at least 1 when count > 0).
size_t EncodeSteim1Frames(const int32_t* samples, size_t count, int32_t& previousSample,
                          uint8_t* frames);

// Encodes samples from `firstIndex` on into one whole record: header (sequence number, codes,
// rate, the samples taken, `recordStart`), blockette 1000, eight zero bytes and the frames.
// Samples of 1 to 3 bytes are divided by 256 first (their 24-bit count), 4-byte samples are
// written as held. `previousSample` is the (divided) sample before `firstIndex` on entry and
// the last one taken on return. Returns the samples taken: 1 to 3772, 0 only when none are
// left.
size_t EncodeSeedRecord(TSeedRecord& record, int sequenceNumber, const TSeedCodes& codes,
                        int32_t& previousSample, size_t firstIndex, const TSampleView& samples,
                        int bytesPerSample, double sampleRate, TSeedTime recordStart);
