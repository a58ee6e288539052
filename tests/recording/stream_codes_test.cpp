// The archive's codes: the band code by sample rate, configured codes of two and three
// characters, codes kept apart where a configuration would make two channels one stream, and
// the station code from a serial number.
#include "recording/stream_codes.h"

#include <gtest/gtest.h>

TEST(StreamCodes, BandByRateConfiguredCodesAndNoTwoChannelsAlike) {
    struct TCase {
        double Rate;
        std::array<std::string, 6> Configured;
        int Channels;
        std::vector<std::string> Codes;
    };
    const TCase cases[] = {
        {3000, {}, 1, {"FHZ"}},
        {1000, {}, 2, {"FHZ", "FHN"}},
        {500, {}, 6, {"CHZ", "CHN", "CHE", "CH1", "CH2", "CH3"}},
        {250, {}, 1, {"CHZ"}},
        {200, {}, 3, {"HHZ", "HHN", "HHE"}},
        {80, {}, 1, {"HHZ"}},
        {75, {}, 1, {"BHZ"}},
        {10, {}, 1, {"BHZ"}},
        {5, {}, 1, {"MHZ"}},
        {1, {}, 1, {"LHZ"}},
        {0.5, {}, 1, {"LHZ"}},
        {0.2, {}, 1, {"VHZ"}},
        {0.1, {}, 1, {"VHZ"}},
        {100, {"EHZ", "LN", "", "XYZ"}, 4, {"EHZ", "HLN", "HHE", "XYZ"}},
        // "HZ" at band H is "HHZ", which the first channel has: the second takes its default.
        {100, {"HHZ", "HZ"}, 2, {"HHZ", "HHN"}},
        // ... and when the default is taken as well, band, X and the channel's number.
        {100, {"HHN", "HN"}, 2, {"HHN", "HX2"}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(DataChannelCodes(c.Configured, c.Channels, c.Rate), c.Codes) << c.Rate;
    }
}

TEST(StreamCodes, StationFromTheSerialNumber) {
    EXPECT_EQ(StationFromSerial("00012345"), "12345");
    EXPECT_EQ(StationFromSerial("2345"), "2345");
    EXPECT_EQ(StationFromSerial("ab-c/d.e"), "ABCDE");
    EXPECT_EQ(StationFromSerial("\xC3\xA9\x01../"), "UNIT");
}
