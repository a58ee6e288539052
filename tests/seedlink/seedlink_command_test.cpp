// The SeedLink command reader, one table per rule: lines to commands or refusals, SELECT
// patterns to the streams they select, bytes to command lines, and the server's addresses.
#include <gtest/gtest.h>

#include "seedfile/seed_time.h"
#include "seedlink/address.h"
#include "seedlink/command.h"

namespace {

int64_t Micro(int y, int mo, int d, int h, int mi, int s) {
    return SeedTimeOf(y, mo, d, h, mi, s)->Seconds * 1000000;
}

}  // namespace

TEST(SeedLinkCommand, LinesReadAsCommandsOrRefused) {
    struct TCase {
        const char* Line;
        std::optional<TSeedLinkCommand> Want;  // nothing: refused
    };
    const auto make = [](TSeedLinkVerb verb) {
        TSeedLinkCommand c;
        c.Verb = verb;
        return c;
    };
    auto station = make(TSeedLinkVerb::Station);
    station.Station = "12345";
    station.Network = "XX";
    auto stationAnyNet = station;
    stationAnyNet.Network = "";
    stationAnyNet.Station = "AB?";
    auto selectAll = make(TSeedLinkVerb::Select);
    auto select = make(TSeedLinkVerb::Select);
    select.Pattern = TStreamPattern{false, "", "HH?", 'D'};
    auto selectNot = make(TSeedLinkVerb::Select);
    selectNot.Pattern = TStreamPattern{true, "00", "LK?", '?'};
    auto data = make(TSeedLinkVerb::Data);
    auto dataSeq = data;
    dataSeq.Sequence = 0x00A1F3;
    auto dataTime = dataSeq;
    dataTime.Begin = Micro(2024, 12, 31, 23, 59, 30);
    auto fetch = make(TSeedLinkVerb::Fetch);
    fetch.Sequence = 0xFFFFFF;
    auto time = make(TSeedLinkVerb::Time);
    time.Begin = Micro(2025, 1, 1, 0, 0, 0);
    time.End = Micro(2025, 1, 1, 0, 10, 0);
    auto timeOpen = make(TSeedLinkVerb::Time);
    timeOpen.Begin = Micro(2025, 1, 1, 0, 0, 0) + 500000;
    auto info = make(TSeedLinkVerb::Info);
    info.Level = "STREAMS";
    auto infoUnknown = make(TSeedLinkVerb::Info);
    infoUnknown.Level = "EVERYTHING";  // answered by the server with an error INFO packet

    const std::vector<TCase> cases = {
        {"HELLO", make(TSeedLinkVerb::Hello)},
        {"hello", make(TSeedLinkVerb::Hello)},
        {"  Hello  ", make(TSeedLinkVerb::Hello)},
        {"HELLO there", std::nullopt},
        {"CAT", make(TSeedLinkVerb::Cat)},
        {"BYE", make(TSeedLinkVerb::Bye)},
        {"END", make(TSeedLinkVerb::End)},
        {"STATION 12345 XX", station},
        {"station 12345 xx", station},
        {"STATION AB?", stationAnyNet},
        {"STATION", std::nullopt},
        {"STATION TOOLONG XX", std::nullopt},
        {"STATION ABC XYZ", std::nullopt},
        {"STATION A%C", std::nullopt},
        {"STATION A B C", std::nullopt},
        {"SELECT", selectAll},
        {"SELECT HH?.D", select},
        {"select hh?", select},
        {"SELECT !00LK?.?", selectNot},
        {"SELECT HH", std::nullopt},
        {"SELECT HHZ.X", std::nullopt},
        {"SELECT HHZ.DD", std::nullopt},
        {"SELECT 0HHZ", std::nullopt},
        {"SELECT HHZ BHZ", std::nullopt},
        {"DATA", data},
        {"DATA 00a1f3", dataSeq},
        {"DATA 00A1F3 2024,12,31,23,59,30", dataTime},
        {"DATA 1000000", std::nullopt},
        {"DATA -1", std::nullopt},
        {"DATA 00A1FG", std::nullopt},
        {"DATA 00A1F3 2024,13,31,23,59,30", std::nullopt},
        {"DATA 00A1F3 2024,12,31,23,59", std::nullopt},
        {"DATA 00A1F3 2024,12,31,23,59,30,1", std::nullopt},
        {"FETCH FFFFFF", fetch},
        {"FETCH 1 2 3", std::nullopt},
        {"TIME 2025,01,01,00,00,00 2025,01,01,00,10,00", time},
        {"TIME 2025,1,1,0,0,0.5", timeOpen},
        {"TIME 2025,01,01,00,10,00 2025,01,01,00,00,00", std::nullopt},
        {"TIME", std::nullopt},
        {"TIME 2025,02,30,00,00,00", std::nullopt},
        {"INFO streams", info},
        {"INFO", std::nullopt},
        {"INFO everything", infoUnknown},
        {"GETDATA", std::nullopt},
        {"", std::nullopt},
        {"HELLO\x01", std::nullopt},
        {"HELLO\xff", std::nullopt},
    };
    for (const TCase& c : cases) {
        const TSeedLinkParse parse = ParseSeedLinkCommand(c.Line);
        if (c.Want) {
            ASSERT_TRUE(parse.Command) << c.Line << ": " << parse.Error;
            EXPECT_EQ(*parse.Command, *c.Want) << c.Line;
            EXPECT_EQ(parse.Error, "") << c.Line;
        } else {
            EXPECT_FALSE(parse.Command) << c.Line;
            EXPECT_NE(parse.Error, "") << c.Line;
        }
    }
    EXPECT_FALSE(ParseSeedLinkCommand(std::string(256, 'A')).Command);
}

TEST(SeedLinkCommand, SelectionsAddUp) {
    struct TCase {
        std::vector<const char*> Patterns;
        const char* Location;
        const char* Channel;
        char Type;
        bool Selected;
    };
    const std::vector<TCase> cases = {
        {{}, "", "HHZ", 'D', true},
        {{"HHZ"}, "", "HHZ", 'D', true},
        {{"HHZ"}, "00", "HHZ", 'D', true},
        {{"HHZ"}, "", "HHN", 'D', false},
        {{"HH?"}, "", "HHN", 'D', true},
        {{"HH?"}, "", "hhn", 'D', true},
        {{"HH?.D"}, "", "HHN", 'E', false},
        {{"HH?.?"}, "", "HHN", 'E', true},
        {{"00HH?"}, "00", "HHE", 'D', true},
        {{"00HH?"}, "", "HHE", 'D', false},
        {{"--HH?"}, "", "HHE", 'D', true},
        {{"--HH?"}, "10", "HHE", 'D', false},
        {{"??HH?"}, "10", "HHE", 'D', true},
        {{"HHZ", "LK?"}, "", "LK3", 'D', true},
        {{"HHZ", "LK?"}, "", "HHE", 'D', false},
        {{"!LK?"}, "", "HHE", 'D', true},
        {{"!LK?"}, "", "LK1", 'D', false},
        {{"L??", "!LK?"}, "", "LEV", 'D', true},
        {{"L??", "!LK?"}, "", "LK2", 'D', false},
        {{"L??", "!LK?"}, "", "HHZ", 'D', false},
    };
    for (const TCase& c : cases) {
        TStreamSelection selection;
        std::string shown;
        for (const char* text : c.Patterns) {
            const std::optional<TStreamPattern> pattern = ParseStreamPattern(text);
            ASSERT_TRUE(pattern) << text;
            selection.Add(*pattern);
            shown += std::string(text) + " ";
        }
        EXPECT_EQ(selection.Selects(c.Location, c.Channel, c.Type), c.Selected)
            << shown << "on '" << c.Location << "' " << c.Channel << "." << c.Type;
    }
}

TEST(SeedLinkCommand, BytesCutIntoLinesWithinTheLimit) {
    struct TCase {
        std::vector<std::string> Chunks;
        std::vector<std::string> Lines;  // "!" for an overlong line
        size_t HeldAfter;
    };
    const std::string longLine(300, 'x');
    const std::vector<TCase> cases = {
        {{"HELLO\r\n"}, {"HELLO"}, 0},
        {{"HELLO\n"}, {"HELLO"}, 0},
        {{"HELLO\r"}, {"HELLO"}, 0},
        {{"HEL", "LO\rCAT\nEND\r\n\r\n"}, {"HELLO", "CAT", "END"}, 0},
        {{"DATA 0"}, {}, 6},
        {{longLine + "\r\nHELLO\r\n"}, {"!", "HELLO"}, 0},
        {{longLine, longLine, longLine}, {"!"}, 0},
        {{std::string(255, 'y') + "\n"}, {std::string(255, 'y')}, 0},
        {{std::string(256, 'y') + "\n"}, {"!"}, 0},
    };
    for (const TCase& c : cases) {
        TCommandLines lines;
        std::vector<TCommandLines::TLine> out;
        for (const std::string& chunk : c.Chunks) {
            lines.Feed(chunk, out);
        }
        std::vector<std::string> got;
        for (const auto& line : out) {
            got.push_back(line.Overlong ? "!" : line.Text);
        }
        EXPECT_EQ(got, c.Lines) << c.Chunks.front().substr(0, 20);
        EXPECT_EQ(lines.Held(), c.HeldAfter);
        EXPECT_LE(lines.Held(), MaxCommandLine);
    }
}

TEST(SeedLinkCommand, AddressesAndRanges) {
    struct TListenCase {
        const char* Text;
        std::optional<TListenAddress> Want;
    };
    const std::vector<TListenCase> listen = {
        {"18000", TListenAddress{"", 18000}},
        {"127.0.0.1:18000", TListenAddress{"127.0.0.1", 18000}},
        {"[::1]:18001", TListenAddress{"::1", 18001}},
        {"0", std::nullopt},
        {"65536", std::nullopt},
        {"::1:18000", std::nullopt},
        {"host.example:18000", std::nullopt},
        {"127.0.0.1:", std::nullopt},
        {"[::1]", std::nullopt},
        {"", std::nullopt},
    };
    for (const TListenCase& c : listen) {
        std::string error;
        const std::optional<TListenAddress> got = ParseListenAddress(c.Text, error);
        EXPECT_EQ(got, c.Want) << c.Text;
        EXPECT_EQ(error.empty(), c.Want.has_value()) << c.Text;
    }

    const auto bytes = [](const char* text) {
        std::string error;
        const auto ranges = ParseAddressRanges(std::string(text) + "/128", error);
        if (!ranges) {
            // An IPv4 address: as its own range of one.
            return (*ParseAddressRanges(std::string(text) + "/32", error))[0].Bytes;
        }
        return (*ranges)[0].Bytes;
    };
    struct TAllowCase {
        const char* Ranges;
        const char* Address;
        bool Allowed;
    };
    const std::vector<TAllowCase> allow = {
        {"", "192.0.2.7", true},
        {"192.0.2.0/24", "192.0.2.7", true},
        {"192.0.2.0/24", "192.0.3.7", false},
        {"10.0.0.0/8,192.0.2.7", "192.0.2.7", true},
        {"192.0.2.7", "192.0.2.8", false},
        {"0.0.0.0/0", "203.0.113.1", true},
        {"0.0.0.0/0", "2001:db8::1", false},
        {"2001:db8::/32", "2001:db8:ffff::1", true},
        {"2001:db8::/32", "2001:db9::1", false},
        {"::1", "::1", true},
        {"127.0.0.0/8", "::ffff:127.0.0.1", true},
    };
    for (const TAllowCase& c : allow) {
        std::string error;
        const auto ranges = ParseAddressRanges(c.Ranges, error);
        ASSERT_TRUE(ranges) << c.Ranges << ": " << error;
        EXPECT_EQ(AddressAllowed(*ranges, bytes(c.Address)), c.Allowed)
            << c.Address << " in " << c.Ranges;
    }
    for (const char* bad : {"192.0.2.0/33", "2001:db8::/129", "192.0.2.0/", "banana",
                            "10.0.0.0/8,,10.1.0.0/16", "10.0.0.0/-1"}) {
        std::string error;
        EXPECT_FALSE(ParseAddressRanges(bad, error)) << bad;
        EXPECT_NE(error, "") << bad;
    }
}
