// Stream format: rate, gain and filter decoding, the format change test, and the Control
// page's item indexes.
#include "digitizer/stream_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

TBlockHeader Header(uint16_t channels, int16_t totalRate) {
    TBlockHeader h;
    h.NumComponents = channels;
    h.TotalRate = totalRate;
    h.BytesPerSample = 3;
    std::strcpy(h.GainCode, "G5");
    std::strcpy(h.FilterType, "LP");
    std::strcpy(h.DeviceId, "QF 5150-310");
    return h;
}

}  // namespace

TEST(StreamFormat, SampleRateAndSamplesPerBlock) {
    EXPECT_EQ(SampleRateFromTotal(300, 3), 100.0);
    EXPECT_EQ(SampleRateFromTotal(-10, 1), 0.1);
    EXPECT_EQ(SampleRateFromTotal(-10, 2), 0.05);
    EXPECT_EQ(SampleRateFromTotal(100, 3), 100.0 / 3);
    EXPECT_EQ(SampleRateFromTotal(0, 3), 0.0);
    EXPECT_EQ(SampleRateFromTotal(300, 0), 0.0);
    EXPECT_EQ(SamplesPerBlock(9000, 3, 3), 1000u);
    EXPECT_EQ(SamplesPerBlock(9001, 3, 3), 1000u);
    EXPECT_EQ(SamplesPerBlock(-1, 4, 1), 0x3FFFFFFFu);  // unsigned division
    EXPECT_EQ(SamplesPerBlock(9000, 0, 3), 0u);
    EXPECT_EQ(SamplesPerBlock(9000, 3, 0), 0u);
}

TEST(StreamFormat, GainBitsAndFactors) {
    EXPECT_EQ(GainBitsFromCode("G5", 3), 5);
    EXPECT_EQ(GainFactorOf(5, 0), 10);
    EXPECT_EQ(GainFactorOf(5, 1), 1);
    EXPECT_EQ(GainFactorOf(5, 2), 10);
    EXPECT_EQ(GainBitsFromCode("G\x3F", 6), 63);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(GainFactorOf(63, c), 10) << c;
    }
    EXPECT_EQ(GainBitsFromCode("G5", 4), 0x35);   // the byte, not the digit
    EXPECT_EQ(GainBitsFromCode("G\xff", 6), -1);  // signed 8-bit
    EXPECT_EQ(GainFactorOf(-1, 5), 10);
    EXPECT_EQ(GainBitsFromCode("G", 1), 0);
    EXPECT_EQ(GainBitsFromCode("G-", 2), 0);
    EXPECT_EQ(GainBitsFromCode("L7", 3), 0);
    EXPECT_EQ(GainBitsFromCode("g5", 3), 7);
    EXPECT_EQ(GainBitsFromCode("", 3), 7);
    EXPECT_EQ(GainFactorOf(1, 40), 1);
}

TEST(StreamFormat, FilterCodeDependsOnTheDeviceId) {
    // Up to "QF 5150-310" (first 11 bytes): LP minimal, MP linear.
    EXPECT_EQ(FilterCodeFrom("LP", "QF 5150-310"), 0);
    EXPECT_EQ(FilterCodeFrom("MP", "QF 5150-310X"), 1);  // only 11 bytes compared
    EXPECT_EQ(FilterCodeFrom("LP", "QF 5150-30"), 0);
    EXPECT_EQ(FilterCodeFrom("LP", ""), 0);
    // Above it: MP minimal, LP linear; bytes compare unsigned.
    EXPECT_EQ(FilterCodeFrom("MP", "QF 5150-311"), 0);
    EXPECT_EQ(FilterCodeFrom("LP", "QF 5150-311"), 1);
    EXPECT_EQ(FilterCodeFrom("MP", "QF 5150-31\xe9"), 0);
    EXPECT_EQ(FilterCodeFrom("XY", "QF 5150-310"), -1);
    EXPECT_EQ(FilterCodeFrom("L", "QF 5150-310"), -1);
}

TEST(StreamFormat, FormatChangeTest) {
    TBlockHeader h = Header(3, 300);
    const TStreamFormat format = StreamFormatOf(h, 19200);
    EXPECT_EQ(format, (TStreamFormat{3, 100.0, 3, 5, 0, 19200}));

    h.HasMde = 1;
    h.Decimation[0] = 9;
    h.GainValue[0] = 77;
    EXPECT_EQ(StreamFormatOf(h, 19200), format);
    EXPECT_NE(StreamFormatOf(Header(3, 600), 19200), format);
    EXPECT_NE(StreamFormatOf(Header(3, 300), 38400), format);
    EXPECT_NE(StreamFormatOf(Header(3, 300), 19200), TStreamFormat{});
}
