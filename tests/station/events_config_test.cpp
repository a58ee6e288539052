// digitizer-station's event detection settings: the [Events] keys and their options, taken or
// refused with the key, the value and the reason, the keys that must fit together, the
// --print-config text that reads back, and how --on-event's text is split into words.
#include <gtest/gtest.h>

#include "station/event_command.h"
#include "station/event_config.h"
#include "station/station_config.h"

namespace {

using TArgs = std::vector<std::string>;

TStationCommand Parse(const TArgs& args, const std::string& ini) {
    return ParseStationCommand(args, ini, "station.ini");
}

}  // namespace

TEST(EventsConfig, EachKeyIsTakenFromTheFileAndTheCommandLineOrRefusedWithItsReason) {
    struct TCase {
        const char* Key;     // in [Events]
        const char* Option;  // nullptr: none
        const char* Value;
        const char* Reason;  // nullptr: taken
        // What the value sets, checked on the configuration.
        bool (*Check)(const TEventConfig&);
    };
    const TCase cases[] = {
        {"Enable", nullptr, "yes", nullptr, [](const TEventConfig& e) { return e.Enabled; }},
        {"Enable", nullptr, "maybe", "must be yes or no (or true/false, 1/0, on/off)", nullptr},
        {"Bandpass", "--trigger-bandpass", "off", nullptr,
         [](const TEventConfig& e) { return !e.Detector.BandpassOn; }},
        {"Bandpass", "--trigger-bandpass", "2", "must be yes or no (or true/false, 1/0, on/off)",
         nullptr},
        {"LowHz", "--trigger-low", "0.5", nullptr,
         [](const TEventConfig& e) { return e.Detector.Band.LowHz == 0.5; }},
        {"LowHz", "--trigger-low", "0", "must be a frequency above 0 Hz, at most 1000 Hz", nullptr},
        {"LowHz", "--trigger-low", "nan", "must be a frequency above 0 Hz, at most 1000 Hz",
         nullptr},
        {"HighHz", "--trigger-high", "2.5e1", nullptr,
         [](const TEventConfig& e) { return e.Detector.Band.HighHz == 25; }},
        {"HighHz", "--trigger-high", "0x10", "must be a frequency above 0 Hz, at most 1000 Hz",
         nullptr},
        {"HighHz", "--trigger-high", "1001", "must be a frequency above 0 Hz, at most 1000 Hz",
         nullptr},
        {"Poles", "--trigger-poles", "4", nullptr,
         [](const TEventConfig& e) { return e.Detector.Band.Poles == 4; }},
        {"Poles", "--trigger-poles", "5", "must be 1 to 4 (poles on each side of the band)",
         nullptr},
        {"StaSeconds", "--trigger-sta", "0.5", nullptr,
         [](const TEventConfig& e) { return e.Detector.StaSeconds == 0.5; }},
        {"StaSeconds", "--trigger-sta", "-1", "must be 0.01 to 3600 seconds", nullptr},
        {"LtaSeconds", "--trigger-lta", "600", nullptr,
         [](const TEventConfig& e) { return e.Detector.LtaSeconds == 600; }},
        {"LtaSeconds", "--trigger-lta", "3601", "must be 0.01 to 3600 seconds", nullptr},
        {"LtaSeconds", "--trigger-lta", "", "must be 0.01 to 3600 seconds", nullptr},
        {"TriggerOn", "--trigger-on", "8", nullptr,
         [](const TEventConfig& e) { return e.Detector.TriggerOn == 8; }},
        {"TriggerOn", "--trigger-on", "inf", "must be a ratio of 0.01 to 1000", nullptr},
        {"TriggerOff", "--trigger-off", "2", nullptr,
         [](const TEventConfig& e) { return e.Detector.TriggerOff == 2; }},
        {"Channels", "--trigger-channels", "1-3", nullptr,
         [](const TEventConfig& e) { return e.Detector.Channels == 0x7u; }},
        {"Channels", "--trigger-channels", "2,4+6", nullptr,
         [](const TEventConfig& e) { return e.Detector.Channels == 0x2Au; }},
        {"Channels", "--trigger-channels", "7",
         "must be channel numbers 1 to 6 or ranges such as 1-3, joined by , or + (1-6: all)",
         nullptr},
        {"Channels", "--trigger-channels", "3-1",
         "must be channel numbers 1 to 6 or ranges such as 1-3, joined by , or + (1-6: all)",
         nullptr},
        {"Channels", "--trigger-channels", "1,,2",
         "must be channel numbers 1 to 6 or ranges such as 1-3, joined by , or + (1-6: all)",
         nullptr},
        {"Coincidence", "--trigger-coincidence", "1", nullptr,
         [](const TEventConfig& e) { return e.Detector.Coincidence == 1; }},
        {"Coincidence", "--trigger-coincidence", "0",
         "must be 1 to 6 (channels triggered together)", nullptr},
        {"HoldSeconds", "--trigger-hold", "0", nullptr,
         [](const TEventConfig& e) { return e.Detector.HoldSeconds == 0; }},
        {"HoldSeconds", "--trigger-hold", "601", "must be 0 to 600 seconds", nullptr},
        {"File", "--events-file", "/data/ev.jsonl", nullptr,
         [](const TEventConfig& e) { return e.File == "/data/ev.jsonl"; }},
        {"CsvFile", "--events-csv", "/data/ev.csv", nullptr,
         [](const TEventConfig& e) { return e.CsvFile == "/data/ev.csv"; }},
        {"OnEvent", "--on-event", "/usr/bin/logger -t 'an event'", nullptr,
         [](const TEventConfig& e) { return e.Command == "/usr/bin/logger -t 'an event'"; }},
        {"OnEvent", "--on-event", "notify \"unclosed", "the \" quote is not closed", nullptr},
        {"OnEventSeconds", "--on-event-seconds", "3600", nullptr,
         [](const TEventConfig& e) { return e.CommandSeconds == 3600; }},
        {"OnEventSeconds", "--on-event-seconds", "0", "must be 1 to 3600 seconds", nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Key) + "=" + c.Value);
        const std::string ini = std::string("[Station]\n[Events]\n") + c.Key + "=" + c.Value + "\n";
        const TStationCommand fromFile = Parse({"1"}, ini);
        if (c.Reason == nullptr) {
            ASSERT_EQ(fromFile.Error, "");
            EXPECT_TRUE(c.Check(fromFile.Config.Events));
        } else {
            // The value as the file's reader gives it back (trimmed).
            EXPECT_EQ(fromFile.Error, std::string("station.ini: [Events] ") + c.Key + "=" +
                                          c.Value + ": " + c.Reason);
        }
        if (c.Option == nullptr) {
            continue;
        }
        // The option, in both spellings, over a file that sets the key otherwise.
        const std::string other = std::string("[Events]\n") + c.Key + "=" +
                                  (std::string(c.Key) == "Channels" ? "5" : "1") + "\n";
        const TStationCommand separate = Parse({"1", c.Option, c.Value}, other);
        const TStationCommand joined = Parse({"1", std::string(c.Option) + "=" + c.Value}, "");
        if (c.Reason == nullptr) {
            ASSERT_EQ(separate.Error, "");
            EXPECT_TRUE(c.Check(separate.Config.Events));
            ASSERT_EQ(joined.Error, "");
            EXPECT_EQ(joined.Config.Events, separate.Config.Events);
        } else {
            EXPECT_EQ(separate.Error, std::string(c.Option) + " " + c.Value + ": " + c.Reason);
            EXPECT_EQ(joined.Error, std::string(c.Option) + "=" + c.Value + ": " + c.Reason);
        }
    }
}

TEST(EventsConfig, DetectionIsOffUnlessAskedForAndTheCommandLineWins) {
    EXPECT_FALSE(Parse({"1"}, "").Config.Events.Enabled);
    EXPECT_TRUE(Parse({"1", "--trigger"}, "").Config.Events.Enabled);
    EXPECT_TRUE(Parse({"1"}, "[Events]\nenable = Yes\n").Config.Events.Enabled);
    EXPECT_FALSE(Parse({"1", "--no-trigger"}, "[Events]\nEnable=yes\n").Config.Events.Enabled);
    EXPECT_EQ(Parse({"1", "--trigger=yes"}, "").Error, "--trigger takes no value");
    const TStationCommand both =
        Parse({"1", "--trigger-sta", "2"}, "[Events]\nStaSeconds=3\nLtaSeconds=60\n");
    ASSERT_EQ(both.Error, "");
    EXPECT_EQ(both.Config.Events.Detector.StaSeconds, 2);
    EXPECT_EQ(both.Config.Events.Detector.LtaSeconds, 60);
    // Either section may come first, the [Station] keys read as before.
    const TStationCommand mixed =
        Parse({}, "[Events]\nEnable=1\n[Station]\nDevice=3\nNetwork=ab\n");
    ASSERT_EQ(mixed.Error, "");
    EXPECT_EQ(mixed.Config.Port, 3);
    EXPECT_EQ(mixed.Config.Network, "AB");
    EXPECT_TRUE(mixed.Config.Events.Enabled);
}

TEST(EventsConfig, KeysThatMustFitTogetherAndTheSectionsShape) {
    struct TCase {
        TArgs Args;
        std::string Ini;
        std::string Error;
    };
    const TCase cases[] = {
        {{"1", "--trigger-low", "12"},
         "",
         "[Events] LowHz=12, HighHz=10 (--trigger-low, --trigger-high): the lower corner must be "
         "below the upper"},
        // With the band-pass off its corners do not matter.
        {{"1", "--trigger-low", "12", "--trigger-bandpass", "no"}, "", ""},
        {{"1"},
         "[Events]\nStaSeconds=40\n",
         "[Events] StaSeconds=40, LtaSeconds=30 (--trigger-sta, --trigger-lta): the STA must be "
         "shorter than the LTA"},
        {{"1", "--trigger-on", "1.5"},
         "",
         "[Events] TriggerOn=1.5, TriggerOff=1.5 (--trigger-on, --trigger-off): the trigger-off "
         "ratio must be below the trigger-on ratio"},
        {{"1", "--trigger-channels", "4"},
         "",
         "[Events] Coincidence=2, Channels=4 (--trigger-coincidence, --trigger-channels): more "
         "channels must trigger together than take part"},
        {{"1", "--trigger-channels", "4", "--trigger-coincidence", "1"}, "", ""},
        {{"1"},
         "[Events]\nPoles=2\n[Station]\n[events]\nPoles=3\n",
         "station.ini: line 4: a second [Events] section; keep all its keys in one"},
        {{"1"}, "[Events]\nPoles=2\nPOLES=3\n", "station.ini: POLES=3: Poles is given twice"},
        {{"1"}, "[Events]\nSta=2\n", "station.ini: Sta=2: unknown key in [Events]"},
        // A [Station] key is not an [Events] key, nor the other way round.
        {{"1"}, "[Events]\nArchive=/x\n", "station.ini: Archive=/x: unknown key in [Events]"},
        {{"1"}, "[Station]\nPoles=2\n", "station.ini: Poles=2: unknown key in [Station]"},
        {{"1", "--trigger-sta"}, "", "--trigger-sta needs a value"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Ini + " " + (c.Args.size() > 1 ? c.Args[1] : ""));
        EXPECT_EQ(Parse(c.Args, c.Ini).Error, c.Error);
    }
}

TEST(EventsConfig, PrintConfigReadsBackAsTheSameEvents) {
    TStationConfig config;
    config.Port = 2;
    TEventConfig& e = config.Events;
    e.Enabled = true;
    e.Detector.BandpassOn = false;
    e.Detector.Band = {0.7, 23.3, 3};
    e.Detector.StaSeconds = 0.35;
    e.Detector.LtaSeconds = 45.125;
    e.Detector.TriggerOn = 3.3;
    e.Detector.TriggerOff = 0.1 + 0.2;  // needs all 17 digits to read back
    e.Detector.Channels = 0x29;
    e.Detector.Coincidence = 3;
    e.Detector.HoldSeconds = 2.5;
    e.File = " /data/events with blanks.jsonl";
    e.CsvFile = "/data/events.csv";
    e.Command = "'/opt/my tools/alert' --level \"high \\\"now\\\"\"";
    e.CommandSeconds = 7;
    TStationConfig defaults;
    defaults.Port = 1;
    for (const TStationConfig& original : {config, defaults}) {
        const std::string text = FormatStationConfig(original);
        const TStationCommand command = Parse({}, text);
        ASSERT_EQ(command.Error, "") << text;
        EXPECT_EQ(command.Config, original) << text;
    }
    EXPECT_NE(FormatStationConfig(config).find("[Events]\nEnable=yes\nBandpass=no\n"),
              std::string::npos)
        << FormatStationConfig(config);
    EXPECT_NE(FormatStationConfig(config).find("\nChannels=1,4,6\n"), std::string::npos);
}

TEST(EventsConfig, CommandsAreSplitIntoWordsByTheDocumentedRulesOnly) {
    using TWords = std::vector<std::string>;
    struct TCase {
        const char* Text;
        TWords Words;       // when taken
        const char* Error;  // nullptr: taken
    };
    const TCase cases[] = {
        {"/usr/bin/notify", {"/usr/bin/notify"}, nullptr},
        {"  notify \t -v  x ", {"notify", "-v", "x"}, nullptr},
        {"'/opt/my tools/alert' 'a  b'", {"/opt/my tools/alert", "a  b"}, nullptr},
        {"say \"it's \\\"here\\\" \\\\ \\n\"", {"say", "it's \"here\" \\ \\n"}, nullptr},
        {"say 'no \\escape \"here\"'", {"say", "no \\escape \"here\""}, nullptr},
        {"a\\ b c\\'d", {"a b", "c'd"}, nullptr},
        {"x'y'\"z\" ''", {"xyz", ""}, nullptr},
        // Nothing a shell would do: the values stay words.
        {"echo $EVENT_ID ~ *.txt; rm -rf / | cat > out &",
         {"echo", "$EVENT_ID", "~", "*.txt;", "rm", "-rf", "/", "|", "cat", ">", "out", "&"},
         nullptr},
        {"sh -c 'echo \"$EVENT_ID\"'", {"sh", "-c", "echo \"$EVENT_ID\""}, nullptr},
        {"", {}, "the command is empty"},
        {" \t ", {}, "the command is empty"},
        {"'' x", {}, "the program's name is empty"},
        {"echo 'open", {}, "the ' quote is not closed"},
        {"echo \"open \\\"", {}, "the \" quote is not closed"},
        {"echo end\\", {}, "a command must not end with a \\"},
        {"echo a\nrm b", {}, "a command must not contain control characters"},
        {"echo \x7f", {}, "a command must not contain control characters"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        const TResult<std::vector<std::string>> words = SplitCommand(c.Text);
        if (c.Error == nullptr) {
            ASSERT_TRUE(words) << words.Error().Text;
            EXPECT_EQ(*words, c.Words);
        } else {
            ASSERT_FALSE(words);
            EXPECT_EQ(words.Error().Text, c.Error);
        }
    }
}
