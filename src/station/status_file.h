// digitizer-station's status file: a JSON object that the service rewrites at least every
// 10 s, for monitoring scripts and for `digitizer-station --status`, which shows it to a
// person.
//
// The object's members, in this order (times as microseconds since 1970 UTC, each beside
// its ISO 8601 UTC text, which the reader ignores; optional values are null when absent):
//   program, version, pid, started_us, started_utc, updated_us, updated_utc,
//   device, line_rate, link_state, blocks_received, damaged_frames, gaps,
//   channels: [{code, samples_recorded, last_sample_us, last_sample_utc}, ...],
//   archive, archive_free_bytes, queued_bytes, dropped_samples, files_removed,
//   last_error, last_error_us, last_error_utc,
// then each Extra section under its own name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The link state the service writes last when it stops cleanly.
inline constexpr char StoppedLinkState[] = "stopped";

struct TChannelStatus {
    std::string Code;  // NET.STA.LOC.CHA
    int64_t SamplesRecorded = 0;
    std::optional<int64_t> LastSampleMicroseconds;  // UTC us since 1970

    bool operator==(const TChannelStatus&) const = default;
};

struct TStationStatus {
    std::string Program, Version;
    int64_t StartedMicroseconds = 0;
    int64_t UpdatedMicroseconds = 0;
    int Pid = 0;
    std::string Device;
    std::optional<uint32_t> LineRate;
    std::string LinkState;  // "receiving", "searching", "device gone", ...
    int64_t BlocksReceived = 0, DamagedFrames = 0, Gaps = 0;
    int64_t PowerCycles = 0, FormatChanges = 0;  // the unit counting again; rate, channels, ...
    std::vector<TChannelStatus> Channels;
    std::string Archive;
    std::optional<uint64_t> ArchiveFreeBytes;
    int64_t QueuedBytes = 0, DroppedSamples = 0;
    int64_t FilesRemoved = 0;  // day files removed to keep the disk from filling
    std::string LastError;
    std::optional<int64_t> LastErrorMicroseconds;
    // Sections other parts of the service add later (network clients, events) as raw JSON
    // values by name. A value that is not valid JSON as ParseStatusJson takes it (nested at
    // most 63 deep, no member name twice in an object) is written as null, and a name that is
    // one of the members above or repeats an earlier name is not written. Reading gives every
    // member the reader does not know here, in compact form.
    std::vector<std::pair<std::string, std::string>> Extra;

    bool operator==(const TStationStatus&) const = default;
};

// The status as one JSON object, a member on each line (and a channel on each line), each
// value compact, ending with a line feed. Texts are UTF-8: a byte that is not part of valid
// UTF-8 is the Latin-1 character of its value.
std::string StatusJson(const TStationStatus& status);

// Writes the status file atomically: a temporary file in the same directory is written,
// flushed to disk and renamed over `path`, mode 0644. On failure the old file is untouched,
// no temporary file is left, and `error` names the path and the reason. The directory must
// exist.
bool WriteStatusFile(const std::string& path, const TStationStatus& status, std::string& error);

// Files and texts larger than this are not read.
inline constexpr size_t MaxStatusFileSize = 1 << 20;

// Reads a status text as StatusJson writes it. Members may come in any order; a missing
// member keeps its default, but `program` and `updated_us` must be there. Nothing, with
// `error` saying where and why, for a text that is not such an object: bad JSON (texts not
// valid UTF-8 included), nesting deeper than 64, a text over MaxStatusFileSize, a member of
// the wrong type or range, or a member name given twice in an object. Never crashes or
// hangs on any input.
std::optional<TStationStatus> ParseStatusJson(const std::string& text, std::string& error);

// Reads the status file at `path` (a regular file of at most MaxStatusFileSize bytes).
std::optional<TStationStatus> ReadStatusFile(const std::string& path, std::string& error);

// The status as a block of text for a person, as of `nowMicroseconds`: how long the service
// has been running, device and link, blocks and damaged frames, each channel's samples and
// the age of its last sample, the archive's free space, the queue, and the last error and
// when it happened, and the network sections when there are: "seedlink" (the SeedLink server
// and each client connected: address, streams, sequence sent, queue fill) and "datalink" (the
// DataLink push), and the "events" section when there is (the detector's state, the on-event
// command's counts and the recent events), and the unit's health, its alarms and the on-alarm
// command's counts from the "health", "alarms" and "alarm_log" sections. It starts with a warning
// when the status was written more than 30 s before `nowMicroseconds` (the service may have
// stopped), or, when the link state is StoppedLinkState, with when the service stopped.
std::string FormatStatusForPerson(const TStationStatus& status, int64_t nowMicroseconds);

// A time as ISO 8601 UTC text with microseconds: "2024-03-01T12:00:00.000000Z".
std::string IsoUtcText(int64_t microseconds);
