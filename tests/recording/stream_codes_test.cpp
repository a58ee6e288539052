// The archive's codes: the band code by sample rate, configured codes of two and three
// characters with locations of their own, codes kept apart where a configuration would make
// two channels one stream, and the station code from a serial number.
#include "recording/stream_codes.h"

#include <gtest/gtest.h>

TEST(StreamCodes, BandByRateConfiguredCodesAndNoTwoChannelsAlike) {
    struct TCase {
        double Rate;
        std::array<std::string, 6> Configured;
        int Channels;
        std::vector<std::string> Codes;  // LOC.CHA, the station's location "00"
    };
    const TCase cases[] = {
        {3000, {}, 1, {"00.FHZ"}},
        {1000, {}, 2, {"00.FHZ", "00.FHN"}},
        {500, {}, 6, {"00.CHZ", "00.CHN", "00.CHE", "00.CH1", "00.CH2", "00.CH3"}},
        {250, {}, 1, {"00.CHZ"}},
        {200, {}, 3, {"00.HHZ", "00.HHN", "00.HHE"}},
        {80, {}, 1, {"00.HHZ"}},
        {75, {}, 1, {"00.BHZ"}},
        {10, {}, 1, {"00.BHZ"}},
        {5, {}, 1, {"00.MHZ"}},
        {1, {}, 1, {"00.LHZ"}},
        {0.5, {}, 1, {"00.LHZ"}},
        {0.2, {}, 1, {"00.VHZ"}},
        {0.1, {}, 1, {"00.VHZ"}},
        // A configured band letter follows the rate within its family: short period (G, D, E,
        // S) or broadband (any other letter).
        {100, {"EHZ", "LN", "", "XYZ"}, 4, {"00.EHZ", "00.HLN", "00.HHE", "00.HYZ"}},
        {20, {"EHZ", "HNZ", "GHZ", "SHZ"}, 4, {"00.SHZ", "00.BNZ", "00.BHE", "00.BH1"}},
        {5, {"EHZ"}, 1, {"00.MHZ"}},
        {1000, {"SHZ", "BHZ"}, 2, {"00.GHZ", "00.FHZ"}},
        {250, {"EHZ"}, 1, {"00.DHZ"}},
        // Two sensors: channels 4 to 6 under a location of their own; "." alone is none.
        {200,
         {"HHZ", "HHN", "HHE", "10.HNZ", "10.HNN", "10.HNE"},
         6,
         {"00.HHZ", "00.HHN", "00.HHE", "10.HNZ", "10.HNN", "10.HNE"}},
        {20, {"00.HHZ", "10.HHZ", ".HHZ"}, 3, {"00.BHZ", "10.BHZ", ".BHZ"}},
        // "HZ" at band H is "HHZ", which the first channel has: the second takes its default.
        {100, {"HHZ", "HZ"}, 2, {"00.HHZ", "00.HHN"}},
        // ... and when the default is taken as well, band, X and the channel's number.
        {100, {"HHN", "HN"}, 2, {"00.HHN", "00.HX2"}},
        // The same channel code under another location is another stream.
        {100, {"HHN", "10.HN"}, 2, {"00.HHN", "10.HHN"}},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> codes;
        for (const TStreamCode& code : DataStreamCodes(c.Configured, "00", c.Channels, c.Rate)) {
            codes.push_back(code.Location + "." + code.Channel);
        }
        EXPECT_EQ(codes, c.Codes) << c.Rate << " " << c.Configured[0];
    }
}

TEST(StreamCodes, StationFromTheSerialNumber) {
    // The enhanced header's whole number and the short header's last four give one code.
    EXPECT_EQ(StationFromSerial("00012345"), "2345");
    EXPECT_EQ(StationFromSerial("2345"), "2345");
    EXPECT_EQ(StationFromSerial("ab-c/d.e"), "BCDE");
    EXPECT_EQ(StationFromSerial("\xC3\xA9\x01../"), "UNIT");
}
