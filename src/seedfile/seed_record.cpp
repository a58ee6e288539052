#include "seedfile/seed_record.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace {

void Put16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
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

bool Fits8(int32_t d) {
    return static_cast<uint32_t>(d) + 128u < 256u;
}

bool Fits16(int32_t d) {
    return static_cast<uint32_t>(d) + 32768u < 65536u;
}

int32_t Difference(int32_t x, int32_t before) {
    return static_cast<int32_t>(static_cast<uint32_t>(x) - static_cast<uint32_t>(before));
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

std::array<uint8_t, 10> MakeBTime(TSeedTime time) {
    const TSeedCivil civil = CivilOf(time);
    std::array<uint8_t, 10> b{};
    Put16(&b[0], static_cast<uint16_t>(civil.Year));
    Put16(&b[2], static_cast<uint16_t>(DayOfYear(civil.Year, civil.Month, civil.Day)));
    b[4] = static_cast<uint8_t>(civil.Hour);
    b[5] = static_cast<uint8_t>(civil.Minute);
    b[6] = static_cast<uint8_t>(civil.Second);
    b[7] = 0;
    Put16(&b[8], static_cast<uint16_t>(civil.Ticks));
    return b;
}

std::array<uint8_t, SeedHeaderLength> MakeFixedHeader(int sequenceNumber, const TSeedCodes& codes,
                                                      double sampleRate, int sampleCount,
                                                      TSeedTime startTime) {
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
    const std::array<uint8_t, 10> btime = MakeBTime(startTime);
    std::memcpy(&h[20], btime.data(), btime.size());
    Put16(&h[30], static_cast<uint16_t>(sampleCount));
    const TRateFactors factors = RateFactorAndMultiplier(sampleRate);
    Put16(&h[32], static_cast<uint16_t>(factors.Factor));
    Put16(&h[34], static_cast<uint16_t>(factors.Multiplier));
    h[36] = 0;         // activity flags
    h[37] = 0;         // I/O and clock flags
    h[38] = 0;         // data quality flags
    h[39] = 1;         // blockettes that follow
    Put32(&h[40], 0);  // time correction
    Put16(&h[44], static_cast<uint16_t>(SeedDataOffset));
    Put16(&h[46], static_cast<uint16_t>(SeedBlocketteOffset));
    return h;
}

std::array<uint8_t, 8> MakeBlockette1000() {
    std::array<uint8_t, 8> b{};
    Put16(&b[0], 1000);
    Put16(&b[2], 0);  // no next blockette
    b[4] = 10;        // Steim-1
    b[5] = 0;         // little-endian words
    b[6] = 12;        // 2^12 = 4096 bytes
    b[7] = 0;
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
        const size_t left = filled - i;
        const int32_t d0 = Difference(x[i], before);
        uint32_t value;
        uint32_t code;
        if (left >= 4) {
            const int32_t d1 = Difference(x[i + 1], x[i]);
            const int32_t d2 = Difference(x[i + 2], x[i + 1]);
            const int32_t d3 = Difference(x[i + 3], x[i + 2]);
            if (Fits8(d0) && Fits8(d1) && Fits8(d2) && Fits8(d3)) {
                value = (static_cast<uint32_t>(d0) & 0xFF) |
                        (static_cast<uint32_t>(d1) & 0xFF) << 8 |
                        (static_cast<uint32_t>(d2) & 0xFF) << 16 | static_cast<uint32_t>(d3) << 24;
                code = 1;
                i += 4;
            } else if (Fits16(d0) && Fits16(d1)) {
                value = (static_cast<uint32_t>(d0) & 0xFFFF) | static_cast<uint32_t>(d1) << 16;
                code = 2;
                i += 2;
            } else {
                value = static_cast<uint32_t>(d0);
                code = 3;
                i += 1;
            }
        } else if (left >= 2 && Fits16(d0) && Fits16(Difference(x[i + 1], x[i]))) {
            value = (static_cast<uint32_t>(d0) & 0xFFFF) |
                    static_cast<uint32_t>(Difference(x[i + 1], x[i])) << 16;
            code = 2;
            i += 2;
        } else {
            value = static_cast<uint32_t>(d0);
            code = 3;
            i += 1;
        }
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
