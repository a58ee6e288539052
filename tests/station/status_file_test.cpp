// The service's status file: written whole or not at all, read back exactly, any text read
// without a crash, and shown to a person with a warning when it is old.
#include "station/status_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

namespace {

constexpr int64_t Second = 1000000;
// 2024-03-01 12:00:00 UTC.
constexpr int64_t Noon = 1709294400 * Second;

TStationStatus FullStatus() {
    TStationStatus status;
    status.Program = "digitizer-station";
    status.Version = "1.1.4.0";
    status.StartedMicroseconds = Noon - 3 * 86400 * Second;
    status.UpdatedMicroseconds = Noon;
    status.Pid = 4242;
    status.Device = "/dev/ttyUSB0";
    status.LineRate = 115200;
    status.LinkState = "receiving";
    status.BlocksReceived = 259200;
    status.DamagedFrames = 3;
    status.Gaps = 1;
    status.Channels = {{"XX.ST01..HHZ", 25920000, Noon - 1500000},
                       {"XX.ST01..HHN", 0, std::nullopt},
                       {"XX.ST01..HHE", std::numeric_limits<int64_t>::max(), -1}};
    status.Archive = "/var/lib/kestrel32/archive";
    status.ArchiveFreeBytes = std::numeric_limits<uint64_t>::max();
    status.QueuedBytes = 1536;
    status.DroppedSamples = 0;
    status.LastError = "/var/lib/kestrel32/archive: No space left on device";
    status.LastErrorMicroseconds = Noon - 7200 * Second;
    status.Extra = {{"clients", "[{\"peer\":\"127.0.0.1:18000\",\"queued\":12}]"},
                    {"events", "{\"count\":2,\"last\":null,\"ratio\":-1500.5}"}};
    return status;
}

class StatusDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/status_file_test.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        DIR* dir = opendir(dir_.c_str());
        while (dirent* entry = readdir(dir)) {
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") {
                names.push_back(entry->d_name);
            }
        }
        closedir(dir);
        return names;
    }
    std::string dir_;
};

}  // namespace

TEST_F(StatusDir, FullStatusComesBackFromTheFileExactly) {
    const std::string path = dir_ + "/ttyUSB0.json";
    TStationStatus status = FullStatus();
    std::string error;
    ASSERT_TRUE(WriteStatusFile(path, status, error)) << error;
    status.Pid = 1;
    ASSERT_TRUE(WriteStatusFile(path, status, error)) << error;
    EXPECT_EQ(Entries(), std::vector<std::string>{"ttyUSB0.json"}) << "no temporary file left";
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);

    const std::optional<TStationStatus> read = ReadStatusFile(path, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(*read, status);

    // Other programs read it with any JSON reader, the times also as text.
    std::ifstream file(path);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(text, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << text;
    EXPECT_EQ(json["updated_utc"], "2024-03-01T12:00:00.000000Z");
    EXPECT_TRUE(json["channels"][1]["last_sample_us"].is_null());
    EXPECT_EQ(json["channels"][2]["last_sample_utc"], "1969-12-31T23:59:59.999999Z");
    EXPECT_EQ(json["events"]["count"], 2);
    EXPECT_EQ(json["archive_free_bytes"], std::numeric_limits<uint64_t>::max());
    // The members in their documented order, the sections after them.
    std::vector<std::string> names;
    for (const auto& [name, value] : json.items()) {
        names.push_back(name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"program",      "version",         "pid",
                                        "started_us",   "started_utc",     "updated_us",
                                        "updated_utc",  "device",          "line_rate",
                                        "link_state",   "blocks_received", "damaged_frames",
                                        "gaps",         "power_cycles",    "format_changes",
                                        "channels",     "archive",         "archive_free_bytes",
                                        "queued_bytes", "dropped_samples", "files_removed",
                                        "last_error",   "last_error_us",   "last_error_utc",
                                        "clients",      "events"}));
    std::vector<std::string> channelNames;
    for (const auto& [name, value] : json["channels"][0].items()) {
        channelNames.push_back(name);
    }
    EXPECT_EQ(channelNames, (std::vector<std::string>{"code", "samples_recorded", "last_sample_us",
                                                      "last_sample_utc"}));
}

TEST_F(StatusDir, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    std::string error;
    EXPECT_FALSE(WriteStatusFile(dir_ + "/missing/s.json", FullStatus(), error));
    EXPECT_EQ(error, dir_ + "/missing/s.json: No such file or directory");
    // A directory in the way: the rename fails after the temporary file was written.
    ASSERT_EQ(mkdir((dir_ + "/s.json").c_str(), 0755), 0);
    EXPECT_FALSE(WriteStatusFile(dir_ + "/s.json", FullStatus(), error));
    EXPECT_NE(error.find(dir_ + "/s.json: "), std::string::npos) << error;
    EXPECT_EQ(Entries(), std::vector<std::string>{"s.json"});
}

TEST(StatusFile, EscapesOfOtherWritersAndOddSectionsAreRead) {
    const std::pair<const char*, std::string> escapes[] = {
        {R"("\ud83c\udf0b")", "\xF0\x9F\x8C\x8B"},
        {R"("\u00E9\/\u0000")", std::string("\xC3\xA9/\0", 4)},
    };
    for (const auto& [json, text] : escapes) {
        std::string error;
        const auto read = ParseStatusJson(
            std::string(R"({"program":"p","updated_us":0,"device":)") + json + "}", error);
        ASSERT_TRUE(read) << json << ": " << error;
        EXPECT_EQ(read->Device, text) << json;
    }
    // Sections that would not read back are null; those that take a member's name, or come
    // again, are not written.
    TStationStatus status = FullStatus();
    status.Extra = {{"broken", "{\"a\":"},
                    {"twice", R"({"a":1,"a":2})"},
                    {"deep", std::string(64, '[') + std::string(64, ']')},
                    {"deep enough", std::string(63, '[') + std::string(63, ']')},
                    {"gaps", "99"},
                    {"x", " [ 1 , \"\\u0041\" ] "},
                    {"x", "2"}};
    std::string error;
    const auto read = ParseStatusJson(StatusJson(status), error);
    ASSERT_TRUE(read) << error;
    using TExtra = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(read->Extra, (TExtra{{"broken", "null"},
                                   {"twice", "null"},
                                   {"deep", "null"},
                                   {"deep enough", status.Extra[3].second},
                                   {"x", "[1,\"A\"]"}}));
    EXPECT_EQ(read->Gaps, 1);
}

TEST_F(StatusDir, BadFilesGiveAnErrorNotACrash) {
    const std::string good = StatusJson(FullStatus());
    // Every cut of a good file is refused.
    for (size_t length = 0; length + 1 < good.size(); ++length) {
        std::string error;
        EXPECT_FALSE(ParseStatusJson(good.substr(0, length), error)) << length;
        EXPECT_FALSE(error.empty());
    }
    // The reader's own refusals word for word; for bad JSON, where it is.
    struct TCase {
        std::string Text;
        std::string Error;  // the whole error, or where for bad JSON
    };
    const std::string head = R"({"program":"p","updated_us":1,)";
    const TCase cases[] = {
        {"", "line 1, column 1:"},
        {"\x89PNG\r\n\x1a\n", "line 1, column 1:"},
        {head + "\"device\":\"\x1b]0;\xC2\x9B\x07\"}", "line 1, column "},
        {"[1,2]", "the status is not an object"},
        {R"({"program":"p"})", "not a status file: 'program' or 'updated_us' is missing"},
        {head + R"("gaps":"3"})", "'gaps': not a whole number"},
        {head + R"("gaps":1.5})", "'gaps': not a whole number"},
        {head + R"("gaps":9223372036854775808})", "'gaps': not a whole number"},
        {head + R"("gaps":-9223372036854775809})", "'gaps': not a whole number"},
        {head + R"("pid":-1})", "'pid': not a process id"},
        {head + R"("line_rate":4294967296})", "'line_rate': not a line rate or null"},
        {head + R"("archive_free_bytes":-1})",
         "'archive_free_bytes': not a number of bytes or null"},
        {head + R"("channels":[{"code":1}]})", "'channels': 'code': not a string"},
        {head + R"("channels":[1]})", "'channels': a channel is not an object"},
        {head + R"("gaps":1,"gaps":2})", "'gaps' is given twice"},
        {head + R"("channels":[{"code":"a","code":"b"}]})", "'code' is given twice"},
        {head + R"("x":{"a":[{"b":1,"b":1}]}})", "'b' is given twice"},
        {head + R"("\u001b[2J\u00e9":1,"\u001b[2J\u00e9":2})", "'?[2J?\?' is given twice"},
        {head + R"("device":"a)" + "\n" + R"(b"})", "line 2, column "},
        {head + R"("device":"\x"})", "line 1, column "},
        {head + R"("device":"\u12G4"})", "line 1, column "},
        {head + R"("device":"\ud83c"})", "line 1, column "},
        {head + "\"device\":\"\xC3\"}", "line 1, column "},
        {head + R"("gaps":01})", "line 1, column "},
        {head + "\n\"gaps\":1} x", "line 2, column "},
        {std::string(64, '[') + std::string(64, ']'), "the status is not an object"},
        {std::string(65, '[') + std::string(65, ']'), "nested deeper than 64"},
        {std::string(1000000, '['), "nested deeper than 64"},
        {"\"" + std::string(MaxStatusFileSize, 'a') + "\"", "larger than 1 MiB"},
    };
    for (const TCase& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseStatusJson(c.Text, error)) << c.Text.substr(0, 80);
        // Shown on a terminal by --status: no byte of the file in it.
        EXPECT_TRUE(std::all_of(error.begin(), error.end(), [](char k) {
            return k >= 0x20 && k < 0x7F;
        })) << error;
        if (c.Error.rfind("line ", 0) == 0) {
            EXPECT_NE(error.find(c.Error), std::string::npos)
                << c.Text.substr(0, 80) << ": " << error;
        } else {
            EXPECT_EQ(error, c.Error) << c.Text.substr(0, 80);
        }
    }
    // Files: missing, not a regular file, too large.
    const std::string huge = dir_ + "/huge.json";
    std::ofstream(huge) << good << std::string(MaxStatusFileSize, ' ');
    const std::pair<std::string, std::string> files[] = {
        {dir_ + "/missing.json", dir_ + "/missing.json: No such file or directory"},
        {dir_, dir_ + ": not a regular file"},
        {huge, huge + ": larger than 1 MiB"},
    };
    for (const auto& [path, expected] : files) {
        std::string error;
        EXPECT_FALSE(ReadStatusFile(path, error));
        EXPECT_EQ(error, expected);
    }
}

TEST(StatusFile, PersonSeesAgesFreeSpaceAndAWarningWhenTheFileIsOld) {
    const TStationStatus status = FullStatus();
    const std::string text = FormatStatusForPerson(status, Noon + 2 * Second);
    for (const char* expected : {
             "Running:    3 d 0 h, since 2024-02-27 12:00:00 UTC\n",
             "Updated:    2.0 s ago (2024-03-01 12:00:00 UTC)\n",
             "Device:     /dev/ttyUSB0, 115200 baud, receiving\n",
             "Blocks:     259200 received, 3 damaged frames, 1 gap\n",
             "  XX.ST01..HHZ  25920000 samples, last 3.5 s ago\n",
             "  XX.ST01..HHN  0 samples, none yet\n",
             "Archive:    /var/lib/kestrel32/archive, 16.0 EiB free\n",
             "Queue:      1.5 KiB not yet written, 0 samples dropped\n",
             "Last error: /var/lib/kestrel32/archive: No space left on device (2 h 00 min ago, "
             "2024-03-01 10:00:00 UTC)\n",
         }) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nin\n" << text;
    }
    EXPECT_EQ(text.find("WARNING"), std::string::npos) << text;

    // The warning comes at 30 s and after, also for times that cannot be subtracted.
    const std::pair<int64_t, bool> ages[] = {{30 * Second, false},
                                             {30 * Second + 1, true},
                                             {-3600 * Second, false},
                                             {std::numeric_limits<int64_t>::max() - Noon, true}};
    for (const auto& [age, warned] : ages) {
        const std::string shown = FormatStatusForPerson(status, Noon + age);
        EXPECT_EQ(shown.rfind("WARNING: the status was last written ", 0) == 0, warned) << shown;
    }
    // A service that stopped cleanly says so and when, however old the file.
    TStationStatus stopped = status;
    stopped.LinkState = StoppedLinkState;
    for (const int64_t age : {2 * Second, 3600 * Second}) {
        const std::string shown = FormatStatusForPerson(stopped, Noon + age);
        EXPECT_EQ(shown.rfind("The service stopped at 2024-03-01 12:00:00 UTC (", 0), 0u) << shown;
        EXPECT_EQ(shown.find("WARNING"), std::string::npos) << shown;
        EXPECT_NE(shown.find("Ran:        3 d 0 h, since 2024-02-27 12:00:00 UTC\n"),
                  std::string::npos)
            << shown;
    }
    TStationStatus odd = status;
    odd.UpdatedMicroseconds = std::numeric_limits<int64_t>::min();
    odd.StartedMicroseconds = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(FormatStatusForPerson(odd, std::numeric_limits<int64_t>::max()).rfind("WARNING", 0),
              0u);
    // Texts from the file cannot drive the terminal.
    odd.Device =
        "\x1b]0;owned\x07\xC2\x9B"
        "2J";
    EXPECT_NE(FormatStatusForPerson(odd, Noon).find("Device:     ?]0;owned??2J,"),
              std::string::npos);
}

TEST(StatusFile, PersonSeesTheSeedLinkClientsAndTheDataLinkPush) {
    TStationStatus status = FullStatus();
    status.Extra = {
        {"seedlink",
         R"({"listening":true,"listen":"18000","ring_packets":1200,"ring_capacity":595000,)"
         R"("first_sequence":"000000","last_sequence":"0004AF","accepted":3,"refused":1,)"
         R"("dropped":0,"handoff_dropped":0,"clients":[{"address":"192.0.2.7:51000",)"
         R"("selection":"HH?.D","streaming":true,"last_sequence":"0004AE","packets_sent":600,)"
         R"("queued_bytes":1040,"queue_capacity":262144,"connected_us":1709294400000000}]})"},
        {"datalink", R"({"server":"ring.example.org","connected":false,"sent":10,"acknowledged":9,)"
                     R"("queued":4,"dropped":0,"last_error":"connection refused",)"
                     R"("last_error_us":1709294398000000,)"
                     R"("last_error_utc":"2024-03-01T11:59:58.000000Z"})"},
    };
    // Through the file's text, as --status reads it.
    std::string error;
    const std::optional<TStationStatus> read = ParseStatusJson(StatusJson(status), error);
    ASSERT_TRUE(read) << error;
    const std::string text = FormatStatusForPerson(*read, Noon + 2 * Second);
    for (const char* expected : {
             "SeedLink:   listening on 18000, 1 client, ring 1200 of 595000 packets (sequence "
             "000000 to 0004AF), 1 refused, 0 dropped\n",
             "  192.0.2.7:51000  streaming HH?.D, sent up to 0004AE (600 packets), queue 1040 of "
             "262144 bytes\n",
             "DataLink:   ring.example.org, not connected, 10 sent, 9 acknowledged, 4 queued, 0 "
             "dropped; last error: connection refused (2024-03-01T11:59:58.000000Z)\n",
         }) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nin\n" << text;
    }
    // A section that is not an object shows nothing and breaks nothing.
    status.Extra = {{"seedlink", "[1,2]"}, {"datalink", "\"text\""}};
    const std::string odd = FormatStatusForPerson(status, Noon);
    EXPECT_EQ(odd.find("SeedLink:"), std::string::npos) << odd;
    EXPECT_EQ(odd.find("DataLink:"), std::string::npos) << odd;
}

TEST(StatusFile, PersonSeesTheUnitsHealthAndItsAlarmsAndOddOnesBreakNothing) {
    TStationStatus status = FullStatus();
    status.Extra = {
        {"health", R"({"block_utc":"2024-03-01T11:59:59.000000Z","supply_volts":11.2,)"
                   R"("supply_milliamps":140.25,"sensor_celsius":31.5,"module_celsius":null,)"
                   R"("clock_source":"gps-no-fix","gps":{"form":"sentence","fix":false,)"
                   R"("satellites":null,"latitude":-33.5,"longitude":151.25,"altitude_m":null,)"
                   R"("last_fix_utc":null,"last_fix_age_s":null}})"},
        {"alarms", R"([{"name":"supply_low","value":11.2,"threshold":11.5,"unit":"V",)"
                   R"("since_us":1709294340000000}])"},
        {"alarm_log", R"({"raised":1,"cleared":0,"command":"","commands_started":0})"},
    };
    const std::string text = FormatStatusForPerson(status, Noon);
    for (const char* expected : {
             "Supply:     11.200 V, 140.2 mA; sensor 31.5 deg C (block "
             "2024-03-01T11:59:59.000000Z)\n",
             "Clock:      gps-no-fix; GPS sentence, no fix, at -33.500000 151.250000; no fix "
             "seen\n",
             "Alarms:\n  supply_low: 11.2 V, threshold 11.5 V, raised 1 min 00 s ago\n",
             "Alarm log:  1 raised, 0 cleared\n",
         }) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nin\n" << text;
    }
    // Members of the wrong kind show as "?" or not at all, and never stop --status.
    status.Extra = {
        {"health", R"({"gps":7,"module_celsius":{"a":1},"supply_volts":"x"})"},
        {"alarms", R"([3,{"since_us":18446744073709551615,"unit":[]}])"},
        {"alarm_log", "[]"},
    };
    const std::string odd = FormatStatusForPerson(status, Noon);
    EXPECT_NE(odd.find("Supply:     x V"), std::string::npos) << odd;
    EXPECT_NE(odd.find("Alarms:\n  ?: ?"), std::string::npos) << odd;
    EXPECT_EQ(odd.find("Alarm log:"), std::string::npos) << odd;
}
