// digitizer-station's configuration: the [Station], [Events] and [Alarms] sections of its INI file,
// with (almost) every key also a command-line option that wins over the file.
//
//   digitizer-station DEVICE|PORT [--config FILE] [options]
//
// Values are checked here, once: a value that is refused names the key (the INI key as
// spelled in the file, or the option as typed), the value and the reason, and the caller
// prints it and exits with 2. Unknown sections, and unknown keys in every section,
// are refused so that a typo is never silently ignored.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "metadata/sensor.h"
#include "recording/recorder_settings.h"
#include "station/alarms.h"
#include "station/event_config.h"

struct TStationConfig {
    // The digitizer: a device path (begins with '/') or a port number 1..255 (port N is
    // /dev/ttyS<N-1>).
    std::string Device;  // empty when a port number was given
    int Port = 0;        // 1..255 when no device path
    std::string ConfigPath = "/etc/kestrel32/station.ini";
    bool ConfigPathGiven = false;  // --config given (then a missing file is an error; the
                                   // default may be missing)
    std::string Archive = "/var/lib/kestrel32/archive";
    TArchiveLayout Layout = TArchiveLayout::Sds;
    std::string Network = "XX";  // 1-2 chars, A-Z 0-9
    std::string Station;         // 1-5 chars A-Z 0-9; empty = from the unit's serial number
    std::string Location;        // 0-2 chars A-Z 0-9 ("" allowed; "--" also means empty)
    // 0..6 entries; each 3 chars (A-Z 0-9, used as is) or 2 chars (band code chosen from the
    // rate, prepended); empty = defaults
    std::vector<std::string> ChannelCodes;
    int RecordLength = 4096;  // 512 or 4096
    int FlushSeconds = 60;    // 1..3600 (data time)
    uint32_t Baud = 0;        // 0 = auto (the baud search); else one of 1200 ... 115200
    // empty = none; the default /run/kestrel32/<device basename>.json is NOT applied here
    // (the service decides)
    std::string StatusFile;
    bool Soh = true;          // state-of-health channels
    int DurationMinutes = 5;  // file period of the `periods` layout, 1..60
    // Day files removed by age (0: kept) and while the disk is short of space (0: never).
    int KeepDays = 0;
    int MinFreePercent = 5;
    int QueueMegabytes = 64;  // memory the recorder may hold for data not yet written, 1..4096

    // The SeedLink server: "[ADDR:]PORT", empty = none.
    std::string SeedLink;
    int SeedLinkRingMegabytes = 300;  // the packet ring, 1..65536
    // The ring's file; empty: seedlink-<device basename>.ring in the archive's directory
    // (SeedLinkRingPath).
    std::string SeedLinkRingFile;
    std::string SeedLinkAllow;  // "CIDR[,CIDR...]" of clients accepted; empty = all
    // "CIDR[,CIDR...]" of clients shown INFO CONNECTIONS; empty = none
    std::string SeedLinkTrusted = "127.0.0.0/8,::1";
    int SeedLinkFlush = 0;         // partial records sent after so many seconds of data; 0 = none
    int SeedLinkMaxClients = 200;  // 1..10000
    int SeedLinkTimeout = 60;      // seconds a client may stay silent or take nothing, 1..3600
    // The DataLink server records are pushed to: "HOST[:PORT]", empty = none.
    std::string DataLink;

    // The HTTP server (FDSN dataselect, the status API, the page): "[ADDR:]PORT" with an IPv4
    // address, empty = none; a bare port listens on the loopback address only.
    std::string Http;
    std::string HttpAllow;           // "CIDR[,CIDR...]" of clients accepted; empty = all
    int HttpMaxConnections = 32;     // connections served at a time (worker threads), 1..1000
    int HttpRequestTimeout = 30;     // seconds to read a request or send a piece, 1..3600
    int HttpIdleTimeout = 10;        // seconds a kept-alive connection may wait, 1..3600
    std::string HttpRoot;            // the page's files; empty = the installed live page
    int HttpDataSelectMaxMB = 1024;  // larger dataselect answers are refused, 1..1000000

    // The [Events] section: event detection, off by default (station/event_config.h).
    TEventConfig Events;
    // The [Alarms] section: the thresholds of the unit's health and the on-alarm command
    // (station/alarms.h).
    TAlarmConfig Alarms;

    // The station's metadata (--stationxml): where it stands, configured or none (then the
    // unit's GPS), and its site's name (empty: the station code).
    std::optional<double> Latitude;   // degrees north, -90 to 90
    std::optional<double> Longitude;  // degrees east, -180 to 180
    std::optional<double> Elevation;  // metres; 0 when only latitude and longitude are given
    std::string SiteName;
    // The sensors of channels 1-3 and 4-6 ([Sensor 1-3], [Sensor 4-6]); none: the digitizer
    // alone.
    std::array<std::optional<TSensor>, 2> Sensors;

    bool operator==(const TStationConfig&) const = default;
};

enum class TStationAction { Run, PrintConfig, StationXml, Status, ListPorts, Help, Version };

// What the command line asks for. With Status, Config.StatusFile is the file to show (the
// FILE of --status, else the configured one); when it is empty the service's default for
// the configured device applies.
struct TStationCommand {
    TStationAction Action = TStationAction::Run;
    TStationConfig Config;
    std::string Error;  // empty when the command line and the file are usable
};

// The command line (without the program name), over the configuration file it names (or the
// default one, which may be missing). --help and --version win over everything else and read
// no file. Run needs a device; PrintConfig and Status do not.
TStationCommand ParseStationCommand(const std::vector<std::string>& args);

// The same over a file's text instead of the file: `iniText` is the file's content, or
// nothing when there is no file (an error when --config was given). `iniName` is how the
// file is named in messages; when empty, the configuration path is used.
TStationCommand ParseStationCommand(const std::vector<std::string>& args,
                                    const std::optional<std::string>& iniText,
                                    const std::string& iniName = "");

// The configuration as INI text that reads back as the same configuration: a comment, the
// [Station] section and every key with its value (--print-config).
std::string FormatStationConfig(const TStationConfig& config);

// The device the configuration names: Device, or /dev/ttyS<Port-1>; empty when neither.
std::string StationDevicePath(const TStationConfig& config);

// The packet ring file of the SeedLink server: SeedLinkRingFile, or seedlink-<device
// basename>.ring in the archive's directory.
std::string SeedLinkRingPath(const TStationConfig& config);

// The text of --help.
const char* StationUsage();
