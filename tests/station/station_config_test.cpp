// digitizer-station's configuration: the file and the command line, what wins, what is
// refused and how, and --print-config text that reads back as the same configuration.
#include "station/station_config.h"

#include "station/station.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace {

using TArgs = std::vector<std::string>;

TStationCommand Parse(const TArgs& args, const std::string& ini) {
    return ParseStationCommand(args, ini, "station.ini");
}

}  // namespace

TEST(StationConfig, RefusesBadValuesNamingKeyValueAndReason) {
    struct TCase {
        TArgs Args;
        std::string Ini;
        std::string Error;
    };
    const std::string section = "[Station]\n";
    const TCase cases[] = {
        {{"1", "--record-length", "1000"}, "", "--record-length 1000: must be 512 or 4096"},
        {{"1", "--record-length=0512"}, "", "--record-length=0512: must be 512 or 4096"},
        {{"1"}, section + "FlushSeconds=0", "station.ini: FlushSeconds=0: must be 1 to 3600"},
        {{"1"},
         section + "flushseconds = 3601",
         "station.ini: flushseconds=3601: must be 1 to 3600"},
        {{"1", "--flush-seconds", "-5"}, "", "--flush-seconds -5: must be 1 to 3600"},
        {{"1", "--duration-minutes=61"}, "", "--duration-minutes=61: must be 1 to 60"},
        {{"1", "--queue-megabytes", "4097"}, "", "--queue-megabytes 4097: must be 1 to 4096"},
        {{"1", "--queue-megabytes", "99999999999999999999"},
         "",
         "--queue-megabytes 99999999999999999999: must be 1 to 4096"},
        {{"1", "--baud", "1000"},
         "",
         "--baud 1000: must be auto or one of 1200 2400 4800 9600 19200 38400 57600 115200"},
        {{"1"},
         section + "Baud=",
         "station.ini: Baud=: must be auto or one of 1200 2400 4800 "
         "9600 19200 38400 57600 115200"},
        {{"1", "--layout", "days"}, "", "--layout days: must be sds or periods"},
        {{"1", "--seedlink", "0"},
         "",
         "--seedlink 0: the port must be 1 to 65535 ([ADDR:]PORT, or empty for none)"},
        {{"1", "--seedlink=host.example:18000"},
         "",
         "--seedlink=host.example:18000: 'host.example' is not a numeric IPv4 or IPv6 address "
         "([ADDR:]PORT, or empty for none)"},
        {{"1"},
         section + "SeedLink=::1:18000",
         "station.ini: SeedLink=::1:18000: an IPv6 address is written [ADDR]:PORT ([ADDR:]PORT, "
         "or empty for none)"},
        {{"1", "--seedlink-allow", "10.0.0.0/33"},
         "",
         "--seedlink-allow 10.0.0.0/33: '10.0.0.0/33': the prefix length must be 0 to 32"},
        {{"1", "--seedlink-allow", "10.0.0.0/8,,::1"},
         "",
         "--seedlink-allow 10.0.0.0/8,,::1: an empty address range"},
        {{"1"},
         section + "SeedLinkTrusted=::1/129",
         "station.ini: SeedLinkTrusted=::1/129: '::1/129': the prefix length must be 0 to 128"},
        {{"1", "--seedlink-ring-mb", "0"}, "", "--seedlink-ring-mb 0: must be 1 to 65536"},
        {{"1", "--seedlink-flush", "3601"}, "", "--seedlink-flush 3601: must be 0 to 3600"},
        {{"1", "--seedlink-max-clients", "0"}, "", "--seedlink-max-clients 0: must be 1 to 10000"},
        {{"1", "--seedlink-timeout", "0"}, "", "--seedlink-timeout 0: must be 1 to 3600"},
        {{"1", "--datalink", "host:99999"},
         "",
         "--datalink host:99999: the port 99999 in \"host:99999\" is not from 1 to 65535 "
         "(HOST[:PORT], or empty for none)"},
        {{"1", "--http", "[::1]:8080"},
         "",
         "--http [::1]:8080: the HTTP server listens on IPv4 addresses only"},
        {{"1", "--http", "80800"},
         "",
         "--http 80800: the port must be 1 to 65535 ([ADDR:]PORT, or empty for none)"},
        {{"1", "--http-allow", "10.0.0.0/40"},
         "",
         "--http-allow 10.0.0.0/40: '10.0.0.0/40': the prefix length must be 0 to 32"},
        {{"1", "--http-max-connections", "0"}, "", "--http-max-connections 0: must be 1 to 1000"},
        {{"1"}, section + "HttpIdleTimeout=0", "station.ini: HttpIdleTimeout=0: must be 1 to 3600"},
        {{"1", "--http-dataselect-max-mb", "0"},
         "",
         "--http-dataselect-max-mb 0: must be 1 to 1000000"},
        {{"1", "--network", "ABC"}, "", "--network ABC: must be 1 or 2 letters or digits"},
        {{"1", "--network="}, "", "--network=: must be 1 or 2 letters or digits"},
        {{"1", "--station", "TOOLONG"},
         "",
         "--station TOOLONG: must be at most 5 letters or digits (empty: the unit's serial "
         "number)"},
        {{"1", "--station", "A-1"},
         "",
         "--station A-1: must be at most 5 letters or digits (empty: the unit's serial number)"},
        {{"1", "--location", "ABC"},
         "",
         "--location ABC: must be at most 2 letters or digits (empty or --: none)"},
        {{"1", "--channel-codes", "HHZ,HHN,HHE,HH1,HH2,HH3,HH4"},
         "",
         "--channel-codes HHZ,HHN,HHE,HH1,HH2,HH3,HH4: at most 6 channel codes, one per channel"},
        {{"1", "--channel-codes", "HHZ,H"},
         "",
         "--channel-codes HHZ,H: 'H': a channel code is 2 or 3 letters or digits, after LL. for a "
         "location of its own (up to 2 letters or digits)"},
        {{"1", "--channel-codes", "HHZ,,HHE"},
         "",
         "--channel-codes HHZ,,HHE: '': a channel code is 2 or 3 letters or digits, after LL. for "
         "a location of its own (up to 2 letters or digits)"},
        {{"1", "--channel-codes", "HH_"},
         "",
         "--channel-codes HH_: 'HH_': a channel code is 2 or 3 letters or digits, after LL. for a "
         "location of its own (up to 2 letters or digits)"},
        {{"1"},
         section + "ChannelCodes=hhz,HHZ",
         "station.ini: ChannelCodes=hhz,HHZ: 'HHZ' is given twice"},
        {{"1"},
         section + "ChannelCodes=00.HHZ,100.HNZ",
         "station.ini: ChannelCodes=00.HHZ,100.HNZ: '100.HNZ': a channel code is 2 or 3 letters "
         "or digits, after LL. for a location of its own (up to 2 letters or digits)"},
        {{"1", "--channel-codes", "0_.HHZ"},
         "",
         "--channel-codes 0_.HHZ: '0_.HHZ': a channel code is 2 or 3 letters or digits, after LL. "
         "for a location of its own (up to 2 letters or digits)"},
        {{"1", "--channel-codes", "10.HNZ,10.H"},
         "",
         "--channel-codes 10.HNZ,10.H: '10.H': a channel code is 2 or 3 letters or digits, after "
         "LL. for a location of its own (up to 2 letters or digits)"},
        {{"1", "--channel-codes", "10.HNZ,10.hnz"},
         "",
         "--channel-codes 10.HNZ,10.hnz: '10.HNZ' is given twice"},
        {{"1"},
         section + "Soh=maybe",
         "station.ini: Soh=maybe: must be yes or no (or true/false, 1/0, on/off)"},
        {{"1", "--archive", ""}, "", "--archive : must not be empty"},
        {{"1", "--status-file", "/run/a\nb"},
         "",
         "--status-file /run/a?b: must not contain control characters"},
        {{"256"}, "", "'256' is not a port number from 1 to 255 (port 1 is /dev/ttyS0)"},
        {{"1", "--device", "/dev/ttyS1"}, "", "--device /dev/ttyS1: the device is given twice"},
        {{"1", "--status", "--print-config"},
         "",
         "use one of --status, --print-config and --stationxml"},
        {{"--stationxml", "--print-config"},
         "",
         "use one of --status, --print-config and --stationxml"},
        // The station's place and sensors.
        {{"1", "--latitude", "91"},
         "",
         "--latitude 91: must be a number from -90 to 90, or empty for none"},
        {{"1", "--latitude", "45"}, "", "Latitude= and Longitude= go together"},
        {{"1"}, section + "Elevation=300", "Elevation= needs Latitude= and Longitude="},
        {{"1"},
         "[Sensor 1-3]\nUnits=M/S\n",
         "[Sensor 1-3] needs Sensitivity= (volts per input unit)"},
        {{"1"},
         "[Sensor 4-6]\nSensitivity=1\nUnits=G\n",
         "station.ini: [Sensor 4-6] Units=G: must be M/S, M/S**2, M or V"},
        {{"1"},
         "[Sensor 1-3]\nSensitivity=0\n",
         "station.ini: [Sensor 1-3] Sensitivity=0: must be a number above 0"},
        {{"1"},
         "[Sensor 1-3]\nSensitivity=1500\nPoles=-1 1 1\n",
         "station.ini: [Sensor 1-3] Poles=-1 1 1: '-1 1 1': each root is its real part and "
         "imaginary part (\"-0.037 0.037\"), roots separated by ';'"},
        {{"1"},
         "[Sensor 1-3]\nSensitivity=1500\nTransfer=hz\nZeros=0 1\nFrequency=1\n",
         "[Sensor 1-3] Frequency=1 falls on a pole or zero: the response cannot be normalised "
         "there"},
        {{"1"},
         "[Sensor 1-3]\nSensitivity=1500\nAzimuths=0,90\n",
         "[Sensor 1-3] Azimuths= and Dips= must give as many numbers"},
        {{"1"},
         "[Sensor 1-3]\nSensitivity=1500\nGain=2\n",
         "station.ini: Gain=2: unknown key in [Sensor 1-3]"},
        {{"1"},
         "[Sensor 1-3]\nSensitivity=1\n[sensor 1-3]\n",
         "station.ini: line 3: a second [Sensor 1-3] section; keep all its keys in one"},
        {{}, "", "which digitizer? Give DEVICE or PORT, or Device= in station.ini"},
        {{"1"}, section + "Archve=/data", "station.ini: Archve=/data: unknown key in [Station]"},
        {{"1"},
         section + "Layout=sds\nLAYOUT=periods",
         "station.ini: LAYOUT=periods: Layout is given twice"},
        {{"1"},
         section + "Network=AB\n[Events]\n[station]\nStation=ST",
         "station.ini: line 4: a second [Station] section; keep all its keys in one"},
        // A misspelt section would otherwise switch off what it holds without a word.
        {{"1"},
         section + "Network=AB\n[Statoin]\nStation=ST",
         "station.ini: line 3: unknown section [Statoin]; the known ones are [Station], "
         "[Events], [Alarms], [Sensor 1-3] and [Sensor 4-6]"},
        {{"1"},
         "[Event]\nEnable=yes\n",
         "station.ini: line 1: unknown section [Event]; the known ones are [Station], "
         "[Events], [Alarms], [Sensor 1-3] and [Sensor 4-6]"},
        {{"1"},
         "Archive=/x\n" + section,
         "station.ini: line 1: 'Archive=/x' is before the [Station] section"},
        {{"1"},
         section + "Network AB",
         "station.ini: line 2: 'Network AB' is not a Key=Value line"},
        {{"1"}, section + "[Broken\n", "station.ini: line 2: '[Broken' is not a Key=Value line"},
    };
    for (const TCase& c : cases) {
        const TStationCommand command = Parse(c.Args, c.Ini);
        EXPECT_EQ(command.Error, c.Error) << c.Ini;
    }
}

TEST(StationConfig, CommandLineWinsOverFileAndPositionalOverDevice) {
    const std::string ini =
        "; comment\n"
        "[STATION]\n"
        "device = /dev/ttyUSB0\n"
        "Archive = \" /data/with blanks \"\n"
        "Layout=Periods\n"
        "Network=ab\n"
        "Station=st01\n"
        "Location=--\n"
        "ChannelCodes = hz, 10.hn ,BHE, --.hnz, .HNN\n"
        "RecordLength=512\n"
        "FlushSeconds=10\n"
        "Baud=AUTO\n"
        "Soh=off\n"
        "DurationMinutes=15\n"
        "QueueMegabytes=8\n";
    TStationCommand command = Parse({}, ini);
    ASSERT_EQ(command.Error, "");
    TStationConfig expected;
    expected.Device = "/dev/ttyUSB0";
    expected.Archive = " /data/with blanks ";
    expected.Layout = TArchiveLayout::Periods;
    expected.Network = "AB";
    expected.Station = "ST01";
    expected.Location = "";
    expected.ChannelCodes = {"HZ", "10.HN", "BHE", ".HNZ", ".HNN"};
    expected.RecordLength = 512;
    expected.FlushSeconds = 10;
    expected.Baud = 0;
    expected.Soh = false;
    expected.DurationMinutes = 15;
    expected.QueueMegabytes = 8;
    EXPECT_EQ(command.Config, expected);
    EXPECT_EQ(command.Action, TStationAction::Run);

    command = Parse({"--soh", "--baud=115200", "3", "--network", "Q",
                     "--channel-codes=", "--location", "0a", "--station="},
                    ini);
    ASSERT_EQ(command.Error, "");
    expected.Device = "";
    expected.Port = 3;
    expected.Soh = true;
    expected.Baud = 115200;
    expected.Network = "Q";
    expected.ChannelCodes = {};
    expected.Location = "0A";
    expected.Station = "";
    EXPECT_EQ(command.Config, expected);
    EXPECT_EQ(StationDevicePath(command.Config), "/dev/ttyS2");
}

TEST(StationConfig, PrintedConfigurationReadsBackTheSame) {
    TStationConfig config;
    config.Device = "/dev/serial/by-id/usb-x";
    config.Archive = "\"quoted\"";
    config.Layout = TArchiveLayout::Periods;
    config.Network = "N1";
    config.Station = "";
    config.Location = "";
    config.ChannelCodes = {"HHZ", "HN", "10.HNZ", ".HNE"};
    config.RecordLength = 512;
    config.FlushSeconds = 3600;
    config.Baud = 1200;
    config.StatusFile = "  /run/status.json";
    config.Soh = false;
    config.DurationMinutes = 60;
    config.QueueMegabytes = 4096;
    config.SeedLink = "[::1]:18000";
    config.SeedLinkRingMegabytes = 65536;
    config.SeedLinkRingFile = "/var/lib/kestrel32/ring";
    config.SeedLinkAllow = "192.0.2.0/24,2001:db8::/32";
    config.SeedLinkTrusted = "";
    config.SeedLinkFlush = 3600;
    config.SeedLinkMaxClients = 10000;
    config.SeedLinkTimeout = 1;
    config.DataLink = "ring.example.org:16001";
    config.Http = "0.0.0.0:8080";
    config.HttpAllow = "192.0.2.0/24";
    config.HttpMaxConnections = 1000;
    config.HttpRequestTimeout = 1;
    config.HttpIdleTimeout = 3600;
    config.HttpRoot = "/usr/share/kestrel32/web";
    config.HttpDataSelectMaxMB = 1;
    config.Latitude = -33.456789012345;
    config.Longitude = 170.5;
    config.Elevation = -12.25;
    config.SiteName = "Vault 2, north wall";
    config.Sensors[1] = TSensor{"Accelerometer",
                                "M/S**2",
                                1.02,
                                5,
                                TPzTransfer::Hertz,
                                {{-70.7107, 70.7107}, {-70.7107, -70.7107}},
                                {},
                                {0, 90, 0},
                                {0, 0, -90}};
    TStationConfig defaults;
    defaults.Sensors[0] = TSensor{"Broadband",
                                  "M/S",
                                  1500,
                                  1,
                                  TPzTransfer::RadiansPerSecond,
                                  {{-0.03701, 0.03701}, {-0.03701, -0.03701}, {-251.3, 0}},
                                  {{0, 0}, {0, 0}},
                                  {},
                                  {}};
    defaults.Port = 7;
    for (const TStationConfig& original : {config, defaults}) {
        const TStationCommand command = Parse({}, FormatStationConfig(original));
        ASSERT_EQ(command.Error, "") << FormatStationConfig(original);
        EXPECT_EQ(command.Config, original) << FormatStationConfig(original);
    }
}

TEST(StationConfig, ActionsAndWhatEachNeeds) {
    struct TCase {
        TArgs Args;
        TStationAction Action;
        std::string StatusFile;
        std::string Error;
    };
    const TCase cases[] = {
        // --help and --version win over faults and read no file.
        {{"--bogus", "--help"}, TStationAction::Help, "", ""},
        {{"-h"}, TStationAction::Help, "", ""},
        {{"--version", "relative"}, TStationAction::Version, "", ""},
        // Printing the configuration needs no device.
        {{"--print-config"}, TStationAction::PrintConfig, "", ""},
        {{"--stationxml"}, TStationAction::StationXml, "", ""},
        // --status takes the next argument as its file unless it names a device.
        {{"--status", "/tmp/s.json"}, TStationAction::Status, "/tmp/s.json", ""},
        {{"--status=/dev/x.json"}, TStationAction::Status, "/dev/x.json", ""},
        {{"--status", "/dev/ttyUSB0"}, TStationAction::Status, "", ""},
        {{"--status", "4"}, TStationAction::Status, "", ""},
        {{"/dev/ttyUSB0", "--status"}, TStationAction::Status, "", ""},
        {{"--status-file", "/a.json", "--status"}, TStationAction::Status, "/a.json", ""},
        {{"--status-file", "/a.json", "--status", "b.json"}, TStationAction::Status, "b.json", ""},
        {{"--status="}, TStationAction::Run, "", "--status=: needs a file name after ="},
        {{"/dev/ttyUSB0", "--config"}, TStationAction::Run, "", "--config needs a value"},
    };
    for (const TCase& c : cases) {
        const bool readsNoFile =
            c.Action == TStationAction::Help || c.Action == TStationAction::Version;
        // A file with a fault shows whether it was read.
        const TStationCommand command =
            Parse(c.Args, readsNoFile ? "[Station]\nFlushSeconds=0\n" : "");
        EXPECT_EQ(command.Error, c.Error) << c.Args[0];
        if (c.Error.empty()) {
            EXPECT_EQ(command.Action, c.Action) << c.Args[0];
            EXPECT_EQ(command.Config.StatusFile, c.StatusFile) << c.Args[0];
        }
    }
}

TEST(StationConfig, ReadsTheNamedFileAndRefusesOneThatIsMissingOrNoFile) {
    char dir[] = "/tmp/station_config_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/station.ini";
    std::ofstream(path) << "[Station]\r\nDevice=5\r\nNetwork=ZZ\r\n";

    TStationCommand command = ParseStationCommand({"--config", path});
    EXPECT_EQ(command.Error, "");
    EXPECT_EQ(command.Config.Port, 5);
    EXPECT_EQ(command.Config.Network, "ZZ");
    EXPECT_TRUE(command.Config.ConfigPathGiven);

    command = ParseStationCommand({"1", "--config=" + path + ".missing"});
    EXPECT_EQ(command.Error, path + ".missing: no such file");
    command = ParseStationCommand({"1", "--config", dir});
    EXPECT_EQ(command.Error, std::string(dir) + ": not a regular file");
    // Without --config, a missing default file is no fault.
    command = ParseStationCommand({"1"}, std::nullopt);
    EXPECT_EQ(command.Error, "");
    EXPECT_FALSE(command.Config.ConfigPathGiven);

    unlink(path.c_str());
    rmdir(dir);
}

// The channels the metadata names are those the layout's files name.
TEST(StationConfig, TheMetadatasChannelsAreTheLayoutsStreams) {
    TStreamFormat format;
    format.ChannelCount = 4;
    format.SampleRate = 100;
    format.BytesPerSample = 3;
    const struct {
        const char* Layout;
        std::vector<std::string> Codes;
    } cases[] = {
        {"sds", {"HHZ", "HNN", "HHE", "HH1", "LEV", "LEC", "LKS", "LCS", "LCF"}},
        {"periods", {"P_0", "P_1", "P_2", "P_3"}},
    };
    for (const auto& c : cases) {
        const TStationCommand command =
            Parse({"1", "--layout", c.Layout, "--channel-codes", "HHZ,NN"}, "");
        ASSERT_EQ(command.Error, "");
        std::vector<std::string> codes;
        for (const TChannelSetup& setup :
             ChannelSetups(ChannelPlanOf(command.Config), format, false)) {
            codes.push_back(setup.Code);
        }
        EXPECT_EQ(codes, c.Codes) << c.Layout;
    }
}
