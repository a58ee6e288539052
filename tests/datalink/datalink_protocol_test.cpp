// The pieces of DataLink the client is made of, as tables: the server addresses the station's
// configuration may give, the exact times of a WRITE, the headers sent, and the answers and
// packets read back (the faulty ones refused, never taken for something else).
#include "datalink/datalink_protocol.h"

#include <gtest/gtest.h>

#include "datalink/datalink_client.h"

TEST(DataLinkProtocol, AddressesAreParsedOrSayWhatIsWrong) {
    struct TCase {
        std::string Text;
        std::string Host;  // empty: an error is expected
        uint16_t Port = 0;
        std::string Complaint;  // a part of the error text
    };
    const TCase cases[] = {
        {"ring.example.org", "ring.example.org", 16000, ""},
        {"ring.example.org:18000", "ring.example.org", 18000, ""},
        {"127.0.0.1:16001", "127.0.0.1", 16001, ""},
        {"localhost:1", "localhost", 1, ""},
        {"host:65535", "host", 65535, ""},
        {"[::1]:16000", "::1", 16000, ""},
        {"[2001:db8::7]", "2001:db8::7", 16000, ""},
        {"[::ffff:192.0.2.1]:17000", "::ffff:192.0.2.1", 17000, ""},
        {"", "", 0, "empty"},
        {":16000", "", 0, "no host"},
        {"host:", "", 0, "no port"},
        {"host:0", "", 0, "1 to 65535"},
        {"host:65536", "", 0, "1 to 65535"},
        {"host:160000", "", 0, "1 to 65535"},
        {"host:12ab", "", 0, "not a number"},
        {"host:+80", "", 0, "not a number"},
        {"host:-1", "", 0, "not a number"},
        {"host: 80", "", 0, "not a number"},
        {"::1", "", 0, "brackets"},
        {"2001:db8::7:16000", "", 0, "brackets"},
        {"[::1", "", 0, "']'"},
        {"[::1]16000", "", 0, ":port"},
        {"[]:16000", "", 0, "not an IPv6 address"},
        {"[ring.example.org]:16000", "", 0, "not an IPv6 address"},
        {"ho st:16000", "", 0, "not a host"},
        {"host/x", "", 0, "not a host"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE("\"" + c.Text + "\"");
        TResult<TDataLinkAddress> address = ParseDataLinkAddress(c.Text);
        if (c.Host.empty()) {
            ASSERT_FALSE(address.Ok());
            EXPECT_NE(address.Error().Text.find(c.Complaint), std::string::npos)
                << address.Error().Text;
        } else {
            ASSERT_TRUE(address.Ok()) << address.Error().Text;
            EXPECT_EQ(address->Host, c.Host);
            EXPECT_EQ(address->Port, c.Port);
        }
    }
}

TEST(DataLinkProtocol, TimesAndHeadersOfAWriteAreExact) {
    // Ten-thousandths of a second to microseconds, without rounding, either side of 1970.
    struct TTime {
        TSeedTime Time;
        int64_t Microseconds;
    };
    const TTime times[] = {
        {{0, 0}, 0},
        {{0, 1}, 100},
        {{1, 9999}, 1999900},
        {{1735689600, 0}, 1735689600000000},
        {{1735689600, 1234}, 1735689600123400},
        {{4102444799, 9999}, 4102444799999900},
        {{-1, 5000}, -500000},
        {{-86400, 0}, -86400000000},
    };
    for (const TTime& t : times) {
        EXPECT_EQ(HpTimeOf(t.Time), t.Microseconds) << t.Time.Seconds << "." << t.Time.Ticks;
    }

    TLiveRecord record;
    record.Network = "XX";
    record.Station = "KST1";
    record.Location = "";
    record.Channel = "HHZ";
    record.Start = {1735689600, 25};
    record.End = {1735689601, 9925};
    record.Bytes.assign(512, 0);
    TResult<std::string> header = WriteHeaderOf(record);
    ASSERT_TRUE(header.Ok()) << header.Error().Text;
    EXPECT_EQ(*header, "WRITE XX_KST1__HHZ/MSEED 1735689600002500 1735689601992500 A 512");
    record.Location = "00";
    record.Station = "KST1 ";  // SEED pads codes with spaces
    EXPECT_EQ(StreamIdOf(record), "XX_KST1_00_HHZ/MSEED");
    ASSERT_TRUE(WriteHeaderOf(record).Ok());

    // Codes that would break the header or the stream ID are refused.
    for (const std::string& station : {std::string("K_1"), std::string("K 1"), std::string(),
                                       std::string("K/1"), std::string(300, 'K')}) {
        TLiveRecord bad = record;
        bad.Station = station;
        EXPECT_FALSE(WriteHeaderOf(bad).Ok()) << "\"" << station << "\"";
    }
    TLiveRecord empty = record;
    empty.Bytes.clear();
    EXPECT_FALSE(WriteHeaderOf(empty).Ok());

    const std::string id = IdHeaderOf("digitizer station", "seis:mo", 4242, "Linux-x86_64");
    EXPECT_EQ(id, "ID digitizer_station:seis_mo:4242:Linux-x86_64");
    std::vector<uint8_t> packet;
    const uint8_t data[3] = {1, 2, 3};
    AppendDataLinkPacket(packet, "WRITE A_B__C/MSEED 0 0 A 3", data, 3);
    ASSERT_EQ(packet.size(), 3u + 26u + 3u);
    EXPECT_EQ(packet[0], 'D');
    EXPECT_EQ(packet[1], 'L');
    EXPECT_EQ(packet[2], 26);
    EXPECT_EQ(packet.back(), 3);
}

TEST(DataLinkProtocol, AnswersAndPacketsAreReadOrRefused) {
    struct TAnswerCase {
        std::string Header;
        bool Valid;
        bool Ok;
        int64_t Value;
        size_t Size;
    };
    const TAnswerCase answers[] = {
        {"OK 17 0", true, true, 17, 0},
        {"OK 9223372036854775807 6", true, true, 9223372036854775807, 6},
        {"ERROR 0 14", true, false, 0, 14},
        {"ERROR -1 3", true, false, -1, 3},
        {"OK 1 65536", true, true, 1, 65536},
        {"OK 1 65537", false, false, 0, 0},
        {"OK 1 1000000000000", false, false, 0, 0},
        {"OK 1 99999999999999999999999", false, false, 0, 0},
        {"OK 17", false, false, 0, 0},
        {"OK 17 0 0", false, false, 0, 0},
        {"OK x 0", false, false, 0, 0},
        {"OK 1 -5", false, false, 0, 0},
        {"ok 1 0", false, false, 0, 0},
        {"PACKET 1 0", false, false, 0, 0},
        {"", false, false, 0, 0},
    };
    for (const TAnswerCase& a : answers) {
        SCOPED_TRACE("\"" + a.Header + "\"");
        TResult<TDataLinkAnswer> answer = AnswerOf(a.Header);
        ASSERT_EQ(answer.Ok(), a.Valid);
        if (a.Valid) {
            EXPECT_EQ(answer->Ok, a.Ok);
            EXPECT_EQ(answer->Value, a.Value);
            EXPECT_EQ(answer->Size, a.Size);
        }
    }

    struct TIdCase {
        std::string Header;
        bool Valid;
        bool Write;
    };
    const TIdCase ids[] = {
        {"ID DataLink 2026.341 :: DLPROTO:1.0 PACKETSIZE:512 WRITE", true, true},
        {"ID DataLink 2026.341 :: WRITE DLPROTO:1.0", true, true},
        {"ID DataLink 2026.341 :: DLPROTO:1.0 PACKETSIZE:512", true, false},
        {"ID DataLink 2026.341 :: DLPROTO:1.0 WRITER", true, false},
        {"ID DataLink 2026.341", true, false},
        {"ERROR 0 12", false, false},
        {"IDDataLink :: WRITE", false, false},
    };
    for (const TIdCase& c : ids) {
        SCOPED_TRACE("\"" + c.Header + "\"");
        TResult<std::vector<std::string>> capabilities = CapabilitiesOf(c.Header);
        ASSERT_EQ(capabilities.Ok(), c.Valid);
        if (c.Valid) {
            const bool write = std::find(capabilities->begin(), capabilities->end(), "WRITE") !=
                               capabilities->end();
            EXPECT_EQ(write, c.Write);
        }
    }

    // Packets cut anywhere come out whole; bytes that are no packet are an error.
    const std::string stream = std::string("DL\x06OK 5 3") + "abc" + "DL\x09" + "ERROR 0 0";
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        TDataLinkReader reader;
        std::vector<std::string> got;
        size_t fed = 0;
        auto feed = [&](size_t end) {
            reader.Feed(reinterpret_cast<const uint8_t*>(stream.data()) + fed, end - fed);
            fed = end;
        };
        feed(cut);
        size_t dataAwaited = 0;
        bool inData = false;
        for (int round = 0; round < 2; ++round) {
            for (;;) {
                if (inData) {
                    std::optional<std::string> data = reader.TakeData(dataAwaited);
                    if (!data) {
                        break;
                    }
                    got.push_back("data:" + *data);
                    inData = false;
                    continue;
                }
                TResult<std::optional<std::string>> header = reader.NextHeader();
                ASSERT_TRUE(header.Ok()) << header.Error().Text;
                if (!*header) {
                    break;
                }
                got.push_back(**header);
                TResult<TDataLinkAnswer> answer = AnswerOf(**header);
                ASSERT_TRUE(answer.Ok());
                dataAwaited = answer->Size;
                inData = true;
            }
            feed(stream.size());
        }
        EXPECT_EQ(got, (std::vector<std::string>{"OK 5 3", "data:abc", "ERROR 0 0", "data:"}))
            << "cut at " << cut;
        EXPECT_EQ(reader.Waiting(), 0u);
    }
    for (const std::string& garbage :
         {std::string("HTTP/1.0 400"), std::string("D"), std::string("DX\x03OK "),
          std::string("DL\x00", 3), std::string("DL\x04OK\n1")}) {
        TDataLinkReader reader;
        reader.Feed(reinterpret_cast<const uint8_t*>(garbage.data()), garbage.size());
        TResult<std::optional<std::string>> header = reader.NextHeader();
        if (garbage == "D") {
            ASSERT_TRUE(header.Ok());  // may still become a packet
            EXPECT_FALSE(*header);
        } else {
            EXPECT_FALSE(header.Ok()) << PrintableText(garbage);
        }
    }
}
