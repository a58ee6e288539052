// The SEED record byte for byte: calendar, BTIME, the fixed header, blockette 1000, control
// words, each packing case of the greedy Steim-1 encoder at its size limits, and whole small
// records.
#include "seedfile/seed_record.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

namespace {

TSeedTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
             int ticks = 0) {
    return *SeedTimeOf(year, month, day, hour, minute, second, ticks);
}

uint32_t Word(const uint8_t* frames, int frame, int word) {
    const uint8_t* p = frames + (frame * 16 + word) * 4;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The codes of a frame's control word, word 0 first.
std::vector<int> Codes(const uint8_t* frames, int frame) {
    const uint32_t control = Word(frames, frame, 0);
    std::vector<int> codes;
    for (int k = 0; k < 16; ++k) {
        codes.push_back(int(control >> (30 - 2 * k) & 3));
    }
    return codes;
}

struct TEncoded {
    size_t Taken = 0;
    int32_t Previous = 0;
    std::vector<uint8_t> Frames = std::vector<uint8_t>(SteimFramesLength);
};

TEncoded Encode(const std::vector<int32_t>& samples, int32_t previous = 0) {
    TEncoded e;
    e.Previous = previous;
    e.Taken = EncodeSteim1Frames(samples.data(), samples.size(), e.Previous, e.Frames.data());
    return e;
}

const TSeedCodes Codes0{"STATN", "01", "AB", "P_0"};

}  // namespace

TEST(SeedCalendar, DayOfYearCountsFebruaryTwentyNineOnlyInLeapYears) {
    EXPECT_EQ(DayOfYear(2003, 1, 1), 1);
    EXPECT_EQ(DayOfYear(2003, 2, 14), 45);
    EXPECT_EQ(DayOfYear(2003, 3, 1), 60);
    EXPECT_EQ(DayOfYear(2004, 3, 1), 61);
    EXPECT_EQ(DayOfYear(2004, 12, 31), 366);
    EXPECT_EQ(DayOfYear(2003, 12, 31), 365);
    EXPECT_EQ(DayOfYear(2000, 3, 1), 61) << "divisible by 400";
    EXPECT_EQ(DayOfYear(1900, 3, 1), 60) << "a century";
    EXPECT_EQ(DayOfYear(2100, 12, 31), 365);
    EXPECT_EQ(DayOfYear(At(2024, 12, 31, 23, 59, 59)), 366);
    EXPECT_FALSE(SeedTimeOf(2023, 2, 29));
    EXPECT_TRUE(SeedTimeOf(2024, 2, 29));
    const TSeedCivil c = CivilOf(At(2024, 2, 29, 23, 59, 59, 9999).PlusTicks(1));
    EXPECT_EQ(c.Month, 3);
    EXPECT_EQ(c.Day, 1);
    EXPECT_EQ(c.Hour, 0);
    EXPECT_EQ(c.Ticks, 0);
}

TEST(SeedRecord, BTimeBlocketteAndFixedHeaderByteForByte) {
    const std::array<uint8_t, 10> btime = MakeBTime(At(2003, 2, 14, 12, 34, 56, 1234));
    EXPECT_EQ(btime, (std::array<uint8_t, 10>{0xD3, 0x07, 45, 0, 12, 34, 56, 0, 0xD2, 0x04}));

    EXPECT_EQ(MakeBlockette1000(), (std::array<uint8_t, 8>{0xE8, 0x03, 0, 0, 10, 0, 12, 0}));

    // Station AB padded to five, location empty, network cut to two.
    const auto h =
        MakeFixedHeader(7, {"AB", "", "NKX", "P_5"}, 250, 3772, At(2004, 12, 31, 23, 59, 58, 5));
    const uint8_t expected[48] = {
        '0',  '0',  '0',  '0',  '0', '7', 'D', ' ',  // sequence, quality, reserved
        'A',  'B',  ' ',  ' ',  ' ', ' ', ' ', 'P', '_', '5', 'N', 'K',  // codes
        0xD4, 0x07, 0x6E, 0x01, 23,  59,  58,  0,   5,   0,              // 2004, day 366
        0xBC, 0x0E,                                                      // 3772 samples
        250,  0,    1,    0,                                             // factor 250, multiplier 1
        0,    0,    0,    1,                                             // flags, one blockette
        0,    0,    0,    0,                                             // time correction
        64,   0,    48,   0};  // data at 64, blockette at 48
    EXPECT_EQ(std::memcmp(h.data(), expected, 48), 0);

    // Long station codes are cut to five in the header.
    const auto cut =
        MakeFixedHeader(123456, {"00012345", "LOC", "N", "P_0"}, 100, 1, At(2003, 1, 1));
    EXPECT_EQ(std::string(cut.begin(), cut.begin() + 20), "123456D 00012LOP_0N ");
}

TEST(SeedRecord, SampleRateFactorAndMultiplier) {
    struct TCase {
        double rate;
        int factor, multiplier;
    };
    for (const TCase& c :
         {TCase{250, 250, 1}, TCase{3000, 3000, 1}, TCase{1, 1, 1}, TCase{100.0 / 3, 33, 1},
          TCase{0.5, 1, -2}, TCase{0.1, 1, -10}, TCase{0.2, 1, -5}, TCase{-1.0 / (-10 * 3), 1, -30},
          TCase{-1.0 / (-10 * 6), 1, -60}, TCase{0, 0, 0}, TCase{-1, 0, 0}}) {
        const TRateFactors f = RateFactorAndMultiplier(c.rate);
        EXPECT_EQ(f.Factor, c.factor) << c.rate;
        EXPECT_EQ(f.Multiplier, c.multiplier) << c.rate;
    }
    // Every rate the digitizer can declare is an exact fraction.
    for (int total = -32768; total <= 32767; ++total) {
        for (int channels = 1; total != 0 && channels <= 6; ++channels) {
            const double rate =
                total > 0 ? double(total) / channels : -1.0 / (double(total) * channels);
            const auto exact = ExactRateOf(rate);
            ASSERT_TRUE(exact);
            ASSERT_EQ(double(exact->Numerator) / double(exact->Denominator), rate)
                << total << " over " << channels;
        }
    }
    EXPECT_EQ(TicksForSamples(3772, *ExactRateOf(3000)), 12573);  // 1.25733... s, rounded down
    EXPECT_EQ(TicksForSamples(3, *ExactRateOf(100.0 / 3)), 900);
    EXPECT_EQ(TicksForSamples(6, *ExactRateOf(0.1)), 600000);
}

TEST(SteimOne, DifferenceSizesAndControlWordsAtTheirLimits) {
    for (int32_t d : {0, 1, -1, 127, -128}) {
        EXPECT_EQ(DifferenceSize(d), 1) << d;
    }
    for (int32_t d : {128, -129, 32767, -32768}) {
        EXPECT_EQ(DifferenceSize(d), 2) << d;
    }
    for (int32_t d : {32768, -32769, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(DifferenceSize(d), 4) << d;
    }
    const uint8_t none[16] = {};
    EXPECT_EQ(PackControlWord(none), 0u);
    const uint8_t codes[16] = {0, 0, 0, 1, 2, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3};
    EXPECT_EQ(PackControlWord(codes), 0b00'00'00'01'10'11'01'01'01'01'01'01'01'01'01'11u);
}

TEST(SteimOne, TheGreedyEncoderPacksFourThenTwoThenOne) {
    // Four differences in 8 bits, the first against the previous sample: one word.
    {
        const TEncoded e = Encode({10, 137, 9, -119}, 10 - 0);
        // differences 0, 127, -128, -128
        EXPECT_EQ(e.Taken, 4u);
        EXPECT_EQ(Word(e.Frames.data(), 0, 3), 0x80807F00u);
        EXPECT_EQ(Codes(e.Frames.data(), 0)[3], 1);
        EXPECT_EQ(Codes(e.Frames.data(), 0)[4], 0);
        EXPECT_EQ(Word(e.Frames.data(), 0, 1), 10u) << "forward integration constant";
        EXPECT_EQ(int32_t(Word(e.Frames.data(), 0, 2)), -119) << "reverse integration constant";
        EXPECT_EQ(e.Previous, -119);
    }
    // Only the fourth does not fit in 8 bits: the first two share a 16-bit word; then the
    // remaining two (fewer than four left) also go as 16 bits.
    {
        const TEncoded e = Encode({1, 2, 3, 131});
        EXPECT_EQ(e.Taken, 4u);
        EXPECT_EQ(Word(e.Frames.data(), 0, 3), 0x00010001u);
        EXPECT_EQ(Word(e.Frames.data(), 0, 4), 0x00800001u);
        const std::vector<int> codes = Codes(e.Frames.data(), 0);
        EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + 6),
                  (std::vector<int>{0, 0, 0, 2, 2, 0}));
    }
    // A first difference beyond 16 bits takes a word alone; the limits of 16 bits pair.
    {
        const TEncoded e = Encode({32768, 32768 + 32767, 32768 + 32767 - 32768, 0});
        // differences 32768 (32-bit), 32767 and -32768 (16-bit pair), -32767 (alone, 32-bit)
        EXPECT_EQ(e.Taken, 4u);
        EXPECT_EQ(Word(e.Frames.data(), 0, 3), 32768u);
        EXPECT_EQ(Word(e.Frames.data(), 0, 4), 0x80007FFFu);
        EXPECT_EQ(int32_t(Word(e.Frames.data(), 0, 5)), -32767);
        const std::vector<int> codes = Codes(e.Frames.data(), 0);
        EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + 7),
                  (std::vector<int>{0, 0, 0, 3, 2, 3, 0}));
    }
    // Differences wrap in 32 bits, as every Steim reader adds them.
    {
        const TEncoded e = Encode({INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN}, INT32_MIN);
        // -1, 1, -1, 1
        EXPECT_EQ(Word(e.Frames.data(), 0, 3), 0x01FF01FFu);
        EXPECT_EQ(Codes(e.Frames.data(), 0)[3], 1);
    }
}

TEST(SteimOne, FramesFillWordThreeOnInFrameZeroAndWordOneOnLater) {
    // 943 words of one 32-bit difference each: every data word of the record is used.
    std::vector<int32_t> samples;
    for (int i = 0; i < 1000; ++i) {
        samples.push_back((i % 2) ? 1 << 20 : -(1 << 20));
    }
    const TEncoded e = Encode(samples);
    EXPECT_EQ(e.Taken, 943u);
    const std::vector<int> first = Codes(e.Frames.data(), 0);
    EXPECT_EQ(std::vector<int>(first.begin(), first.begin() + 4), (std::vector<int>{0, 0, 0, 3}));
    for (int frame = 1; frame < 63; ++frame) {
        const std::vector<int> codes = Codes(e.Frames.data(), frame);
        EXPECT_EQ(codes[0], 0);
        for (int k = 1; k < 16; ++k) {
            ASSERT_EQ(codes[k], 3) << frame << " " << k;
        }
    }
    EXPECT_EQ(int32_t(Word(e.Frames.data(), 62, 15)), samples[942] - samples[941]);
    EXPECT_EQ(e.Previous, samples[942]);

    // All 8-bit: exactly 3772 samples fill the record; one more starts the next.
    const std::vector<int32_t> ramp(3773, 5);
    EXPECT_EQ(Encode(ramp, 5).Taken, MaxRecordSamples);
    // A short list: the frame after the last word is left zero, its control word written.
    const TEncoded shortList = Encode(std::vector<int32_t>(60, 1), 1);
    EXPECT_EQ(shortList.Taken, 60u);
    EXPECT_EQ(Codes(shortList.Frames.data(), 1)[1], 1);
    EXPECT_EQ(Codes(shortList.Frames.data(), 1)[3], 0);
    EXPECT_EQ(Word(shortList.Frames.data(), 1, 2), 0u);
    EXPECT_EQ(Word(shortList.Frames.data(), 2, 0), 0u);
}

TEST(SeedRecord, FiveSamplesMakeOneEightBitWordAndOneWholeWord) {
    // Samples of 3 bytes as the block holds them (value x 256); -5 is written as -5.
    const std::vector<int32_t> list = {1 * 256, 3 * 256, -5 * 256, 0, 2 * 256};
    TSeedRecord record;
    record.fill(0xAA);
    int32_t previous = 0;
    const size_t taken = EncodeSeedRecord(record, 1, Codes0, previous, 0, TSampleView(list), 3, 100,
                                          At(2003, 2, 14, 12, 0, 0, 5000));
    EXPECT_EQ(taken, 5u);
    EXPECT_EQ(previous, 2);

    TSeedRecord expected{};
    const uint8_t header[64] = {'0',  '0',  '0', '0', '0',  '1',  'D', ' ', 'S',  'T',  'A', 'T',
                                'N',  '0',  '1', 'P', '_',  '0',  'A', 'B', 0xD3, 0x07, 45,  0,
                                12,   0,    0,   0,   0x88, 0x13, 5,   0,   100,  0,    1,   0,
                                0,    0,    0,   1,   0,    0,    0,   0,   64,   0,    48,  0,
                                0xE8, 0x03, 0,   0,   10,   0,    12,  0,  // blockette 1000
                                0,    0,    0,   0,   0,    0,    0,   0};
    std::memcpy(expected.data(), header, 64);
    const uint8_t frame0[20] = {
        0x00, 0x00, 0xC0, 0x01,  // control word 0x01C00000: codes 0 0 0 1 3
        1,    0,    0,    0,     // first sample
        2,    0,    0,    0,     // last sample
        1,    2,    0xF8, 5,     // differences 1, 2, -8, 5
        2,    0,    0,    0};    // the fifth sample alone: difference 2 as 32 bits
    std::memcpy(expected.data() + 64, frame0, sizeof frame0);
    EXPECT_EQ(record, expected);
}

TEST(SeedRecord, SampleWidthsDivideTheStoredWordsBelowFourBytes) {
    for (int bytes : {1, 2, 3, 4}) {
        const std::vector<int32_t> stored = {-1280, 2560, -256};
        TSeedRecord record;
        int32_t previous = 0;
        EncodeSeedRecord(record, 1, Codes0, previous, 0, TSampleView(stored), bytes, 1,
                         At(2020, 1, 1));
        const int32_t first = int32_t(Word(record.data() + 64, 0, 1));
        const int32_t last = int32_t(Word(record.data() + 64, 0, 2));
        EXPECT_EQ(first, bytes == 4 ? -1280 : -5) << bytes;
        EXPECT_EQ(last, bytes == 4 ? -256 : -1) << bytes;
    }
}

TEST(SeedRecord, ASampleListInPiecesEncodesAsOneList) {
    std::vector<int32_t> all;
    for (int i = 0; i < 9000; ++i) {
        all.push_back((i * i % 1999 - 1000) * 256 * (i % 7 == 0 ? 300 : 1));
    }
    std::vector<std::span<const int32_t>> pieces;
    for (size_t first = 0; first < all.size(); first += 1000 + first % 3) {
        pieces.emplace_back(all.data() + first,
                            std::min<size_t>(1000 + first % 3, all.size() - first));
    }
    const TSampleView whole(all);
    const TSampleView split(pieces);
    ASSERT_EQ(split.Size(), all.size());
    int32_t p1 = 0, p2 = 0;
    size_t done = 0;
    while (done < all.size()) {
        TSeedRecord a, b;
        const size_t n1 = EncodeSeedRecord(a, 1, Codes0, p1, done, whole, 3, 100, At(2020, 1, 1));
        const size_t n2 = EncodeSeedRecord(b, 1, Codes0, p2, done, split, 3, 100, At(2020, 1, 1));
        ASSERT_EQ(n1, n2);
        ASSERT_EQ(a, b);
        done += n1;
    }
}
