// Every JSON text the programs write (the status file with its sections, the events file, a
// line of digitizer-dump --json) keeps UTF-8 text exactly, and a byte that is not UTF-8 becomes
// the Latin-1 character of its value: a JSON reader reads back what was given, nothing is lost
// and no text stops a write.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "base/json_text.h"
#include "dump/block_json.h"
#include "station/event_log.h"
#include "station/station_events.h"
#include "station/status_file.h"
#include "station/status_sections.h"

TEST(JsonOutput, BytesThatAreNotUtf8BecomeTheirLatin1Characters) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\xFF", "a\xC3\xBF"},                                              // a stray byte
        {"\x80", "\xC2\x80"},                                                // a lone continuation
        {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                                    // an overlong form
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},                        // a surrogate
        {"\xE2\x82x", "\xC3\xA2\xC2\x82x"},                                  // cut short
        {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},            // above U+10FFFF
        {"\xF4\x8F\xBF\xBF \xEF\xBF\xBD", "\xF4\x8F\xBF\xBF \xEF\xBF\xBD"},  // valid: kept
        {"\xE2\x82\xAC\xE2", "\xE2\x82\xAC\xC3\xA2"},                        // cut at the end
    };
    for (const auto& [bytes, utf8] : cases) {
        EXPECT_EQ(Utf8Text(bytes), utf8) << bytes;
        // In a value and in a member's name, at any depth.
        const nlohmann::ordered_json json = {{bytes, {{"a", {bytes}}}}};
        const std::string text = JsonText(json);
        const auto read = nlohmann::ordered_json::parse(text);
        EXPECT_EQ(read, (nlohmann::ordered_json{{utf8, {{"a", {utf8}}}}})) << text;
    }
}

TEST(JsonOutput, EveryOutputReadsBackWithTheTextsItWasGiven) {
    struct TCase {
        const char* What;
        std::string Text;
        std::string Read;
    };
    const TCase cases[] = {
        {"o umlaut", "j\xC3\xB6rg", "j\xC3\xB6rg"},
        {"CJK", "\xE5\x9C\xB0\xE9\x9C\x87", "\xE5\x9C\xB0\xE9\x9C\x87"},
        {"emoji", "\xF0\x9F\x8C\x8B", "\xF0\x9F\x8C\x8B"},
        {"control characters", "a\x01\tb\x1f\x7f", "a\x01\tb\x1f\x7f"},
        {"quote and backslash", "\"\\\"", "\"\\\""},
        {"not UTF-8", "j\xF6rg\xFF", "j\xC3\xB6rg\xC3\xBF"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);

        // digitizer-dump --json: a text field of the block.
        TDataBlock block;
        block.Gps = std::make_unique<TGpsInfo>();
        std::strncpy(block.Gps->Text, c.Text.c_str(), sizeof block.Gps->Text - 1);
        const std::string dumped = BlockToJson(block);
        EXPECT_EQ(dumped.find('\n'), std::string::npos);
        EXPECT_EQ(nlohmann::json::parse(dumped)["Gps"]["Text"], c.Read) << dumped;

        // The events file's lines.
        TEvent event;
        event.Channels = {{0, true, {}, 5, 100, 0.001}};
        const TEventPlace place{c.Text, c.Text, {}, {c.Text}};
        const std::string start = EventStartJson(event, 1, place);
        const std::string end = EventEndJson(event, 1, place);
        EXPECT_EQ(nlohmann::json::parse(start)["network"], c.Read) << start;
        EXPECT_EQ(nlohmann::json::parse(end)["station"], c.Read) << end;
        EXPECT_EQ(nlohmann::json::parse(end)["seed_ids"][0], c.Read) << end;

        // The status file with the station's sections.
        TSeedLinkStatus seedlink;
        seedlink.Listen = c.Text;
        seedlink.Clients.resize(1);
        seedlink.Clients[0].Address = c.Text;
        TDataLinkStatus datalink;
        datalink.LastError = c.Text;
        TStationConfig config;
        config.Events.Enabled = true;
        config.Events.File = "/nonexistent/" + c.Text;
        auto events = TStationEvents::Make(config, [](const std::string&) {});
        ASSERT_TRUE(events) << events.Error().Text;
        TStationStatus status;
        status.Program = "digitizer-station";
        status.Device = c.Text;
        status.Channels = {{c.Text, 1, std::nullopt}};
        status.Extra = {{"seedlink", SeedLinkStatusJson(seedlink)},
                        {"datalink", DataLinkStatusJson(c.Text, datalink)},
                        {"events", (*events)->StatusJson()},
                        {c.Text, "1"}};
        const std::string file = StatusJson(status);
        nlohmann::json json = nlohmann::json::parse(file);
        EXPECT_EQ(json["device"], c.Read);
        EXPECT_EQ(json["channels"][0]["code"], c.Read);
        EXPECT_EQ(json["seedlink"]["listen"], c.Read);
        EXPECT_EQ(json["seedlink"]["clients"][0]["address"], c.Read);
        EXPECT_EQ(json["datalink"]["server"], c.Read);
        EXPECT_EQ(json["datalink"]["last_error"], c.Read);
        EXPECT_EQ(json["events"]["file"], "/nonexistent/" + c.Read);
        EXPECT_EQ(json[c.Read], 1);
        // And the service's own reader, as --status reads it.
        std::string error;
        const std::optional<TStationStatus> read = ParseStatusJson(file, error);
        ASSERT_TRUE(read) << error;
        EXPECT_EQ(read->Device, c.Read);
        EXPECT_EQ(read->Channels.at(0).Code, c.Read);
        EXPECT_EQ(read->Extra.back().first, c.Read);
    }
}
