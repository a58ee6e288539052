#include "seedlink/info.h"

#include <cstdio>
#include <cstring>

#include "seedfile/seed_record.h"
#include "seedlink/packet_ring.h"

namespace {

constexpr size_t TextPerRecord = SeedLinkRecordLength - SeedDataOffset;

TSeedTime TimeOf(int64_t microseconds) {
    int64_t seconds = microseconds / 1000000;
    int64_t rest = microseconds % 1000000;
    if (rest < 0) {
        rest += 1000000;
        --seconds;
    }
    return TSeedTime{seconds, static_cast<int32_t>(rest / 100)};
}

}  // namespace

std::string InfoPackets(const std::string& xml, int64_t nowMicroseconds) {
    std::string out;
    const TSeedCodes codes{"INFO", "", "SL", "LOG"};
    const size_t records = xml.empty() ? 1 : (xml.size() + TextPerRecord - 1) / TextPerRecord;
    for (size_t k = 0; k < records; ++k) {
        const size_t first = k * TextPerRecord;
        const size_t length = std::min(TextPerRecord, xml.size() - std::min(first, xml.size()));
        std::array<uint8_t, SeedLinkRecordLength> record{};
        const auto header =
            MakeFixedHeader(static_cast<int>(k + 1), codes, TRateFactors{0, 0},
                            static_cast<int>(length), TimeOf(nowMicroseconds), TByteOrder::Big, 0);
        std::memcpy(record.data(), header.data(), header.size());
        auto blockette = MakeBlockette1000(TByteOrder::Big, 9);
        blockette[4] = 0;  // ASCII text
        std::memcpy(record.data() + SeedBlocketteOffset, blockette.data(), blockette.size());
        std::memcpy(record.data() + SeedDataOffset, xml.data() + first, length);
        out += k + 1 < records ? "SLINFO *" : "SLINFO  ";
        out.append(reinterpret_cast<const char*>(record.data()), record.size());
    }
    return out;
}

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
        }
    }
    return out;
}

std::string InfoTimeText(int64_t microseconds) {
    const TSeedTime time = TimeOf(microseconds);
    const TSeedCivil t = CivilOf(time);
    char text[40];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d.%04d", t.Year, t.Month, t.Day,
                  t.Hour, t.Minute, t.Second, t.Ticks);
    return text;
}
