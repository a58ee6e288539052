#include "seedfile/seed_record.h"

#include "seedfile/steim1.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace {

void Put16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put16(uint8_t* at, uint16_t value, TByteOrder order) {
    if (order == TByteOrder::Little) {
        Put16(at, value);
    } else {
        at[0] = static_cast<uint8_t>(value >> 8);
        at[1] = static_cast<uint8_t>(value);
    }
}

void Put32(uint8_t* at, uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &value, 4);
    } else {
        at[0] = static_cast<uint8_t>(value);
        at[1] = static_cast<uint8_t>(value >> 8);
        at[2] = static_cast<uint8_t>(value >> 16);
        at[3] = static_cast<uint8_t>(value >> 24);
    }
}

// `text` left-aligned in `width` bytes, padded with spaces, cut to the width.
void PutText(uint8_t* at, const std::string& text, size_t width) {
    std::memset(at, ' ', width);
    std::memcpy(at, text.data(), std::min(width, text.size()));
}

}  // namespace

TSampleView::TSampleView(std::span<const int32_t> samples) {
    if (!samples.empty()) {
        pieces_.push_back(samples);
        starts_.push_back(0);
        size_ = samples.size();
    }
}

TSampleView::TSampleView(std::vector<std::span<const int32_t>> pieces) {
    for (const auto piece : pieces) {
        if (!piece.empty()) {
            pieces_.push_back(piece);
            starts_.push_back(size_);
            size_ += piece.size();
        }
    }
}

int32_t TSampleView::operator[](size_t index) const {
    const size_t p = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), index) -
                                         starts_.begin() - 1);
    return pieces_[p][index - starts_[p]];
}

void TSampleView::Gather(size_t first, size_t count, int32_t divisor, int32_t* out) const {
    if (count == 0) {
        return;
    }
    size_t p = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), first) -
                                   starts_.begin() - 1);
    size_t offset = first - starts_[p];
    while (count > 0) {
        const std::span<const int32_t> piece = pieces_[p];
        const size_t n = std::min(count, piece.size() - offset);
        const int32_t* from = piece.data() + offset;
        if (divisor == 1) {
            std::copy(from, from + n, out);
        } else if (divisor == 256) {
            for (size_t i = 0; i < n; ++i) {
                out[i] = from[i] / 256;
            }
        } else {
            for (size_t i = 0; i < n; ++i) {
                out[i] = from[i] / divisor;
            }
        }
        out += n;
        count -= n;
        ++p;
        offset = 0;
    }
}

int DifferenceSize(int32_t difference) {
    return Fits8(difference) ? 1 : Fits16(difference) ? 2 : 4;
}

uint32_t PackControlWord(std::span<const uint8_t, 16> codes) {
    uint32_t word = 0;
    for (size_t k = 0; k < codes.size(); ++k) {
        word |= codes[k] & 3u;
        if (k + 1 < codes.size()) {
            word <<= 2;
        }
    }
    return word;
}

TRateFactors RateFactorAndMultiplier(double sampleRate) {
    const std::optional<TExactRate> rate = ExactRateOf(sampleRate);
    if (!rate) {
        return {};
    }
    if (rate->Numerator >= rate->Denominator) {
        return {static_cast<int16_t>(std::min<int64_t>(rate->Numerator / rate->Denominator, 32767)),
                1};
    }
    return {1,
            static_cast<int16_t>(-std::min<int64_t>(rate->Denominator / rate->Numerator, 32768))};
}

TRateFactors ExactRateFactors(double sampleRate) {
    const std::optional<TExactRate> rate = ExactRateOf(sampleRate);
    if (!rate) {
        return {};
    }
    if (rate->Denominator == 1 || rate->Numerator == 1 || rate->Numerator > 32767 ||
        rate->Denominator > 32768) {
        return RateFactorAndMultiplier(sampleRate);
    }
    return {static_cast<int16_t>(rate->Numerator), static_cast<int16_t>(-rate->Denominator)};
}

std::array<uint8_t, 10> MakeBTime(TSeedTime time, TByteOrder order) {
    const TSeedCivil civil = CivilOf(time);
    std::array<uint8_t, 10> b{};
    Put16(&b[0], static_cast<uint16_t>(civil.Year), order);
    Put16(&b[2], static_cast<uint16_t>(DayOfYear(civil.Year, civil.Month, civil.Day)), order);
    b[4] = static_cast<uint8_t>(civil.Hour);
    b[5] = static_cast<uint8_t>(civil.Minute);
    b[6] = static_cast<uint8_t>(civil.Second);
    b[7] = 0;
    Put16(&b[8], static_cast<uint16_t>(civil.Ticks), order);
    return b;
}

std::array<uint8_t, SeedHeaderLength> MakeFixedHeader(int sequenceNumber, const TSeedCodes& codes,
                                                      double sampleRate, int sampleCount,
                                                      TSeedTime startTime, TByteOrder order,
                                                      uint8_t ioFlags) {
    return MakeFixedHeader(sequenceNumber, codes, RateFactorAndMultiplier(sampleRate), sampleCount,
                           startTime, order, ioFlags);
}

std::array<uint8_t, SeedHeaderLength> MakeFixedHeader(int sequenceNumber, const TSeedCodes& codes,
                                                      TRateFactors factors, int sampleCount,
                                                      TSeedTime startTime, TByteOrder order,
                                                      uint8_t ioFlags) {
    std::array<uint8_t, SeedHeaderLength> h{};
    char sequence[16];
    std::snprintf(sequence, sizeof sequence, "%06d", sequenceNumber % 1000000);
    std::memcpy(&h[0], sequence, 6);
    h[6] = 'D';
    h[7] = ' ';
    PutText(&h[8], codes.Station, 5);
    PutText(&h[13], codes.Location, 2);
    PutText(&h[15], codes.Channel, 3);
    PutText(&h[18], codes.Network, 2);
    const std::array<uint8_t, 10> btime = MakeBTime(startTime, order);
    std::memcpy(&h[20], btime.data(), btime.size());
    Put16(&h[30], static_cast<uint16_t>(sampleCount), order);
    Put16(&h[32], static_cast<uint16_t>(factors.Factor), order);
    Put16(&h[34], static_cast<uint16_t>(factors.Multiplier), order);
    h[36] = 0;        // activity flags
    h[37] = ioFlags;  // I/O and clock flags
    h[38] = 0;        // data quality flags
    h[39] = 1;        // blockettes that follow
    // Time correction (40 to 43) stays 0 in either order.
    Put16(&h[44], static_cast<uint16_t>(SeedDataOffset), order);
    Put16(&h[46], static_cast<uint16_t>(SeedBlocketteOffset), order);
    return h;
}

std::array<uint8_t, 8> MakeBlockette1000(TByteOrder order, int lengthExponent, uint16_t next) {
    std::array<uint8_t, 8> b{};
    Put16(&b[0], 1000, order);
    Put16(&b[2], next, order);
    b[4] = 10;  // Steim-1
    b[5] = order == TByteOrder::Big ? 1 : 0;
    b[6] = static_cast<uint8_t>(lengthExponent);
    b[7] = 0;
    return b;
}

std::array<uint8_t, 8> MakeBlockette1001(TByteOrder order, int timingQuality, int frameCount) {
    std::array<uint8_t, 8> b{};
    Put16(&b[0], 1001, order);
    Put16(&b[2], 0, order);  // no next blockette
    b[4] = static_cast<uint8_t>(std::clamp(timingQuality, 0, 100));
    b[5] = 0;  // microseconds
    b[6] = 0;
    b[7] = static_cast<uint8_t>(std::clamp(frameCount, 0, 255));
    return b;
}

namespace {

// The greedy choice looks at the next four differences, then the next two: four that fit in
// 8 bits make one word, else two that fit in 16 bits, else one 32-bit word. Fewer than four
// samples left never make an 8-bit word.
//
// The samples come from `x`, of which `fill(n)` makes at least min(n, count) available and
// returns how many are (so that a record gathers only about the samples it takes).
template <typename TFill>
size_t EncodeFrames(const int32_t* x, size_t count, TFill&& fill, int32_t& previousSample,
                    uint8_t* frames) {
    if (count == 0) {
        return 0;
    }
    size_t filled = fill(4);
    Put32(frames + 4, static_cast<uint32_t>(x[0]));  // forward integration constant
    size_t i = 0;
    int frame = 0;
    int word = 3;
    uint32_t control = 0;
    int32_t before = previousSample;
    while (frame < SteimFrameCount && i < count) {
        if (i + 4 > filled && filled < count) {
            filled = fill(i + 4);
        }
        const TSteimWord w = ChooseSteimWord(x + i, filled - i, before);
        const uint32_t value = w.Value;
        const uint32_t code = w.Code;
        i += w.Taken;
        before = x[i - 1];
        Put32(frames + (frame * SteimFrameWords + word) * 4, value);
        control |= code << (30 - 2 * word);
        ++word;
        if (word >= SteimFrameWords || i >= count) {
            Put32(frames + frame * SteimFrameWords * 4, control);
            control = 0;
            ++frame;
            word = 1;
        }
    }
    Put32(frames + 8, static_cast<uint32_t>(before));  // reverse integration constant
    previousSample = before;
    return i;
}

}  // namespace

size_t EncodeSteim1Frames(const int32_t* x, size_t count, int32_t& previousSample,
                          uint8_t* frames) {
    return EncodeFrames(
        x, count, [count](size_t) { return count; }, previousSample, frames);
}

size_t EncodeSeedRecord(TSeedRecord& record, int sequenceNumber, const TSeedCodes& codes,
                        int32_t& previousSample, size_t firstIndex, const TSampleView& samples,
                        int bytesPerSample, double sampleRate, TSeedTime recordStart) {
    const size_t available =
        firstIndex < samples.Size() ? std::min(samples.Size() - firstIndex, MaxRecordSamples) : 0;
    // The samples are gathered (and divided) a piece at a time as the frames take them.
    constexpr size_t Step = 256;
    int32_t scratch[MaxRecordSamples];
    const int32_t divisor = bytesPerSample >= 4 ? 1 : 256;
    size_t gathered = 0;
    const auto fill = [&](size_t needed) {
        const size_t target = std::min(available, std::max(needed, gathered + Step));
        samples.Gather(firstIndex + gathered, target - gathered, divisor, scratch + gathered);
        gathered = target;
        return gathered;
    };
    uint8_t* frames = record.data() + SeedDataOffset;
    std::memset(frames, 0, SteimFramesLength);
    const size_t taken = EncodeFrames(scratch, available, fill, previousSample, frames);

    const auto header =
        MakeFixedHeader(sequenceNumber, codes, sampleRate, static_cast<int>(taken), recordStart);
    std::memcpy(record.data(), header.data(), header.size());
    const auto blockette = MakeBlockette1000();
    std::memcpy(record.data() + SeedBlocketteOffset, blockette.data(), blockette.size());
    std::memset(record.data() + SeedBlocketteOffset + blockette.size(), 0,
                SeedDataOffset - SeedBlocketteOffset - blockette.size());
    return taken;
}
