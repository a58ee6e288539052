// Frames built by the encoder decode through ParseFrame to exactly the values put in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "digitizer/frame_parser.h"
#include "sim/frame_encoder.h"
#include "sim/gps_text.h"
#include "sim/serial_probe.h"
#include "sim/signals.h"

namespace {

TBlockPtr Decode(const std::vector<uint8_t>& bytes, bool* ok) {
    TBlockPtr block(NewBlock());
    *ok = ParseFrame(block.get(), bytes.data(), static_cast<int32_t>(bytes.size()));
    return block;
}

TRmcFix SampleFix() {
    TRmcFix fix;
    fix.Hour = 23;
    fix.Minute = 59;
    fix.Second = 58;
    fix.Valid = true;
    fix.LatDegrees = 51;
    fix.LatMinutes = 30.25;
    fix.LatHemisphere = 'S';
    fix.LonDegrees = 122;
    fix.LonMinutes = 7.5;
    fix.LonHemisphere = 'W';
    fix.Speed = 12.3;
    fix.Course = 271.5;
    fix.Day = 29;
    fix.Month = 2;
    fix.Year = 2024;
    fix.MagVariation = 3.4;
    fix.MagVariationDir = 'W';
    return fix;
}

TReceiverReports SampleReports() {
    TReceiverReports r;
    r.TimeOfDay = 45296;
    r.FixSource = '3';
    r.FixAge = '2';
    r.Hour = 12;
    r.Minute = 34;
    r.Second = 56;
    r.Day = 7;
    r.Month = 11;
    r.Year = 2023;
    r.UtcOffset = 18;
    r.SvCount = 11;
    r.TimeValid = true;
    r.North = true;
    r.LatDegrees = 37;
    r.LatFraction = 45678;
    r.East = false;
    r.LonDegrees = 122;
    r.LonFraction = 34567;
    r.Speed = 5;
    r.Course = 90;
    r.AltitudeValid = true;
    r.Altitude = -123;
    r.VerticalVelocity = -4;
    r.Status1 = 'B';
    r.Status2 = '6';
    r.Status3 = '1';
    r.StatusCode = {'A', '7'};
    r.StatusFlag = '8';
    return r;
}

// A frame with a distinct value in every header field and full-scale samples at both ends.
TWireFrame FullFrame(int channels, int bytes, bool mde) {
    TWireFrame f;
    SetText(f.DeviceId, "QF 5150-400 ");
    SetText(f.Version, "V3.07a");
    SetText(f.ShortSerial, "2345");
    SetText(f.LongSerial, "00012345");
    f.BlockCount = 4000000000u;
    f.NumComponents = static_cast<uint16_t>(channels);
    f.TotalRate = static_cast<int16_t>(-10);
    f.BytesPerSample = static_cast<uint16_t>(bytes);
    SetText(f.FilterType, "LP");
    const int16_t decimation[5] = {6, 10, 10, 10, 5};
    std::memcpy(f.Decimation, decimation, sizeof decimation);
    f.PhaseError = -321;
    f.GainCode = {'G', '\x3F'};
    for (int c = 0; c < 6; ++c) {
        f.GainValue[c] = 8388608 + c;
        f.OffsetValue[c] = -1000 * (c + 1);
        f.ModuleTemp[c] = static_cast<int16_t>(250 + c);
    }
    f.GainValue[1] = 0x1FFFFFFF;
    f.OffsetValue[4] = 0x1FFFFFFF;
    f.SupplyVoltage = 2700;
    f.SupplyCurrent = 170;
    f.SensorTemp = 700;
    f.RemoteVoltage = -2700;
    f.UserInput[0] = 1234;
    f.UserInput[3] = -5;
    SetText(f.Coupling, "AC");
    f.LastValidGpsBlock = 123456;
    f.GpsArea = FormatRmc(SampleFix());
    f.HasMde = mde;
    const int32_t top = FullScale(bytes);
    for (int c = 0; c < channels; ++c) {
        f.Samples[c] = {top, -top - 1, -1, 0, c + 1, -(c + 1) * 3};
    }
    return f;
}

TEST(FrameEncoder, EveryFieldRoundTripsForAllWidthsChannelsAndHeaderForms) {
    for (int bytes = 1; bytes <= 4; ++bytes) {
        for (int channels = 1; channels <= 6; ++channels) {
            for (bool mde : {false, true}) {
                SCOPED_TRACE("bytes " + std::to_string(bytes) + " channels " +
                             std::to_string(channels) + " mde " + std::to_string(mde));
                const TWireFrame f = FullFrame(channels, bytes, mde);
                const auto wire = EncodeFrame(f);
                ASSERT_EQ(wire.size(),
                          size_t(192 + (mde ? 188 : 0) + 8 + 6 * channels * bytes + 12));
                bool ok = false;
                const TBlockPtr block = Decode(wire, &ok);
                ASSERT_TRUE(ok);
                const TBlockHeader& h = *block->Header;
                EXPECT_STREQ(h.DeviceId, "QF 5150-400 ");
                EXPECT_STREQ(h.Version, "V3.07a");
                EXPECT_STREQ(h.SerialNumber, mde ? "00012345" : "2345");
                EXPECT_EQ(h.ModLength, 184);
                EXPECT_EQ(h.HasMde, mde ? 1 : 0);
                EXPECT_EQ(h.BlockCount, 4000000000u);
                EXPECT_EQ(h.NumComponents, channels);
                EXPECT_EQ(h.TotalRate, -10);
                EXPECT_EQ(h.BytesPerSample, bytes);
                EXPECT_STREQ(h.FilterType, "LP");
                EXPECT_EQ(h.Decimation[0], 6);
                EXPECT_EQ(h.Decimation[1], 10);
                EXPECT_EQ(h.PhaseError, -321);
                EXPECT_EQ(h.GainCode[0], 'G');
                EXPECT_EQ(h.GainCode[1], 0x3F);
                EXPECT_EQ(h.GainValue[0], 8388608);
                EXPECT_EQ(h.GainValue[1], -1);  // the "not set" marker
                EXPECT_EQ(h.OffsetValue[2], -3000);
                EXPECT_DOUBLE_EQ(h.SupplyVoltage, 15.9);
                EXPECT_DOUBLE_EQ(h.SupplyCurrent, 22);
                EXPECT_NEAR(h.SensorTemp, 20.0, 1e-9);
                EXPECT_NEAR(h.RemoteVoltage, -5.9, 1e-9);
                EXPECT_NEAR(h.UserInput[0], 1.234, 1e-9);
                EXPECT_NEAR(h.UserInput[3], -0.005, 1e-9);
                EXPECT_STREQ(h.Coupling, "AC");
                EXPECT_EQ(h.LastValidGpsBlock, 123456);
                if (mde) {
                    EXPECT_EQ(h.MdeLength, 180);
                    EXPECT_EQ(h.Decimation[2], 10);
                    EXPECT_EQ(h.Decimation[4], 5);
                    EXPECT_EQ(h.GainValue[5], 8388613);
                    EXPECT_EQ(h.OffsetValue[4], 0x1FFFFFFF);  // offsets keep the marker value
                    EXPECT_NEAR(h.ModuleTemp[0], -25.0, 1e-9);
                    EXPECT_NEAR(h.ModuleTemp[5], -24.5, 1e-9);
                }
                const TSampleSet& s = *block->Samples;
                EXPECT_EQ(s.DatLength, 6 * channels * bytes);
                const int shift = 32 - 8 * bytes;
                for (int c = 0; c < 6; ++c) {
                    if (c >= channels) {
                        EXPECT_TRUE(s.Channel[c].empty());
                        continue;
                    }
                    ASSERT_EQ(s.Channel[c].size(), 6u);
                    for (size_t j = 0; j < 6; ++j) {
                        // Held left-justified: the wire value times 2^(32 - 8 * bytes).
                        const int64_t expected = int64_t{f.Samples[c][j]} * (int64_t{1} << shift);
                        EXPECT_EQ(s.Channel[c][j], expected) << "channel " << c << " sample " << j;
                    }
                }
                EXPECT_EQ(block->Sum->SumLength, 4u);
                EXPECT_EQ(block->Sum->Checksum, ByteSum(wire.data(), wire.size() - 2));
            }
        }
    }
}

TEST(FrameEncoder, SentenceColumnsAndChecksum) {
    const auto area = FormatRmc(SampleFix());
    const std::string text(area.begin(), area.end());
    EXPECT_EQ(text,
              "$GPRMC,235958,A,5130.2500,S,12207.5000,W,012.3,271.5,290224,003.4,W*"
              "61\r\n");
    uint8_t check = 0;
    for (size_t i = 1; i < 67; ++i) {
        check ^= static_cast<uint8_t>(text[i]);
    }
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", check);
    EXPECT_EQ(text.substr(68, 2), hex);

    // Values that would not fit their columns are clamped rather than shifting the columns.
    TRmcFix wild = SampleFix();
    wild.LatMinutes = 59.99999;
    wild.Speed = 12345;
    wild.Course = -0.01;
    wild.Valid = false;
    const auto clamped = FormatRmc(wild);
    const std::string t2(clamped.begin(), clamped.end());
    EXPECT_EQ(t2.substr(14, 1), "V");
    EXPECT_EQ(t2.substr(18, 7), "59.9999");
    EXPECT_EQ(t2.substr(41, 5), "999.9");
    EXPECT_EQ(t2.substr(47, 5), "000.0");
    EXPECT_EQ(t2.substr(67, 1), "*");
    EXPECT_EQ(t2.substr(70, 2), "\r\n");
}

TEST(FrameEncoder, SentenceAndReportsDecode) {
    TWireFrame f = FullFrame(3, 3, true);
    bool ok = false;
    TBlockPtr block = Decode(EncodeFrame(f), &ok);
    ASSERT_TRUE(ok);
    const TGpsInfo& g = *block->Gps;
    EXPECT_EQ(g.Present, 1);
    EXPECT_EQ(g.Source, 1);
    EXPECT_EQ(g.FixValid, 1);
    EXPECT_EQ(g.Hour, 23);
    EXPECT_EQ(g.Minute, 59);
    EXPECT_EQ(g.Second, 58);
    EXPECT_EQ(g.LatDegrees, 51);
    EXPECT_DOUBLE_EQ(g.LatMinutes, 30.25);
    EXPECT_EQ(g.LatHemisphere, 'S');
    EXPECT_EQ(g.LonDegrees, 122);
    EXPECT_DOUBLE_EQ(g.LonMinutes, 7.5);
    EXPECT_EQ(g.LonHemisphere, 'W');
    EXPECT_DOUBLE_EQ(g.Speed, 12.3);
    EXPECT_DOUBLE_EQ(g.Course, 271.5);
    EXPECT_EQ(g.Day, 29);
    EXPECT_EQ(g.Month, 2);
    EXPECT_EQ(g.Year, 2024);
    EXPECT_DOUBLE_EQ(g.MagVariation, 3.4);
    EXPECT_EQ(g.MagVariationDir, 'W');

    // Without a sentence the receiver reports of the enhanced header are read.
    SetText(f.GpsArea, "");
    f.ReportArea = FormatReports(SampleReports());
    block = Decode(EncodeFrame(f), &ok);
    ASSERT_TRUE(ok);
    const TGpsInfo& r = *block->Gps;
    EXPECT_EQ(r.Present, 1);
    EXPECT_EQ(r.Source, 2);
    EXPECT_EQ(r.FixValid, 1);
    EXPECT_EQ(r.Hour, 12);
    EXPECT_EQ(r.Minute, 34);
    EXPECT_EQ(r.Second, 56);
    EXPECT_EQ(r.Day, 7);
    EXPECT_EQ(r.Month, 11);
    EXPECT_EQ(r.Year, 2023);
    EXPECT_EQ(r.UtcOffset, 18);
    EXPECT_EQ(r.SvCount, 11);
    EXPECT_EQ(r.TimeValid, 1);
    EXPECT_EQ(r.TimeOfDay, 45296);
    EXPECT_EQ(r.LatHemisphere, 'N');
    EXPECT_EQ(r.LatDegrees, 37);
    EXPECT_NEAR(r.LatMinutes, 27.4068, 1e-9);
    EXPECT_EQ(r.LonHemisphere, 'W');
    EXPECT_EQ(r.LonDegrees, 122);
    EXPECT_NEAR(r.LonMinutes, 20.7402, 1e-9);
    EXPECT_DOUBLE_EQ(r.Speed, 5);
    EXPECT_DOUBLE_EQ(r.Course, 90);
    EXPECT_EQ(r.Altitude, -123);
    EXPECT_DOUBLE_EQ(r.VerticalVelocity, -4);
    EXPECT_EQ(r.FixSource, '3');
    EXPECT_EQ(r.FixAge, '2');
    EXPECT_EQ(r.Status1, 'B');
    EXPECT_EQ(r.Status2, '6');
    EXPECT_EQ(r.Status3, '1');
    EXPECT_STREQ(r.StatusCode, "A7");
    EXPECT_EQ(r.StatusFlag, '8');

    // The reports sit at their fixed places: time at 2, position at 41, altitude at 82,
    // status at 110.
    const std::string area(f.ReportArea.begin(), f.ReportArea.end());
    EXPECT_EQ(area.substr(2, 4), ">RTM");
    EXPECT_EQ(area.substr(41, 4), ">RPV");
    EXPECT_EQ(area.substr(82, 4), ">RAL");
    EXPECT_EQ(area.substr(110, 4), ">RST");
    TReceiverReports noAltitude = SampleReports();
    noAltitude.AltitudeValid = false;
    const auto other = FormatReports(noAltitude);
    EXPECT_EQ(std::string(other.begin() + 82, other.begin() + 86), ">?AL");
}

TEST(FrameEncoder, RecordOptionsAndLengthFields) {
    TWireFrame f = FullFrame(2, 3, false);
    f.HasSum = false;
    auto wire = EncodeFrame(f);
    bool ok = false;
    TBlockPtr block = Decode(wire, &ok);
    ASSERT_TRUE(ok) << "a frame may end right after its DAT record";
    EXPECT_EQ(block->Sum->SumLength, 0u);

    // A declared DAT length longer than the payload puts the frame beyond its bytes.
    f = FullFrame(2, 3, false);
    f.DatLength = 6 * 2 * 3 + 3;
    Decode(EncodeFrame(f), &ok);
    EXPECT_FALSE(ok);

    // A MOD length that does not lead to the next record breaks the frame.
    f = FullFrame(2, 3, true);
    f.ModLength = 190;
    Decode(EncodeFrame(f), &ok);
    EXPECT_FALSE(ok);

    // Any single damaged byte behind the tag fails the checksum or the structure.
    f = FullFrame(6, 4, true);
    wire = EncodeFrame(f);
    for (size_t at = 3; at < wire.size(); at += 7) {
        auto damaged = wire;
        damaged[at] ^= 0x10;
        Decode(damaged, &ok);
        EXPECT_FALSE(ok) << "byte " << at;
    }
}

TEST(FrameEncoder, PackedSamplesAndPlantedTag) {
    uint8_t buffer[4];
    for (int bytes = 1; bytes <= 4; ++bytes) {
        const int32_t top = FullScale(bytes);
        for (int32_t value : {top, -top - 1, int32_t{-1}, int32_t{0}, int32_t{1}}) {
            PackSample(buffer, value, bytes);
            EXPECT_EQ(UnpackSample(buffer, bytes), value) << bytes << " bytes";
        }
    }
    PackSample(buffer, -2, 3);
    EXPECT_EQ(buffer[0], 0xFE);
    EXPECT_EQ(buffer[1], 0xFF);
    EXPECT_EQ(buffer[2], 0xFF);

    // "MOD" planted in the samples: still exactly one frame, with those bytes in its payload.
    for (int bytes = 1; bytes <= 4; ++bytes) {
        TWireFrame f = FullFrame(bytes == 1 ? 1 : 3, bytes, false);
        ASSERT_TRUE(PlantInSamples(f, "MOD"));
        const auto wire = EncodeFrame(f);
        size_t tags = 0;
        for (size_t i = 0; i + 3 <= wire.size(); ++i) {
            tags += std::memcmp(&wire[i], "MOD", 3) == 0 ? 1 : 0;
        }
        EXPECT_EQ(tags, 2u) << bytes << " bytes";
        bool ok = false;
        Decode(wire, &ok);
        EXPECT_TRUE(ok) << bytes << " bytes";
    }
    TWireFrame tiny = FullFrame(1, 1, false);
    tiny.Samples[0] = {1, 2};
    EXPECT_FALSE(PlantInSamples(tiny, "MOD"));
}

}  // namespace
