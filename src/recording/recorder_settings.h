// What the recorder is told: where and how it writes.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>

#include "digitizer/data_block.h"

class TArchiveSpans;

// `Sds`: one file per stream and UTC day, ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY,
// records appended as they fill. `Periods`: the window's day directories and file periods,
// each file written whole when its period ends.
enum class TArchiveLayout { Sds, Periods };

// The window's layout (the [Files] values).
struct TPeriodSettings {
    std::string BaseDir;  // without a trailing "/"
    std::string Station = "STATN";
    std::string Location = "LO";
    std::string Network = "NK";
    int DurationMinutes = 5;  // 1 to 60

    bool operator==(const TPeriodSettings&) const = default;
};

struct TSdsSettings {
    std::string Root;
    std::string Network = "XX";
    std::string Station;  // empty: from the unit's serial number
    std::string Location;
    // Per channel, as DataStreamCodes takes them: empty for the code by the sample rate
    // (band, "H", orientation), "IO" or "BIO" (band letter by the rate), either after
    // "LOC." for a location of its own.
    std::array<std::string, MaxChannels> ChannelCodes;
    size_t RecordLength = 4096;  // 512 or 4096
    int FlushSeconds = 60;       // a partial record written at least this often (data time)
    bool Soh = true;             // the state-of-health streams
    // Whole day files removed, oldest day first across all streams and never the day being
    // written: those more than KeepDays before it (0: none by age), and while less than
    // MinFreePercent of the disk is free (0: none for space).
    int KeepDays = 0;
    int MinFreePercent = 0;
    // The picture of the archive's spans kept up to date with every record written and every
    // day file removed; none: not kept.
    std::shared_ptr<TArchiveSpans> Spans;

    bool operator==(const TSdsSettings&) const = default;
};

struct TRecorderSettings {
    TArchiveLayout Layout = TArchiveLayout::Periods;
    TPeriodSettings Periods;
    TSdsSettings Sds;
    // Memory for data not yet on disk (blocks waiting for the worker, records waiting for the
    // disk to take them): beyond it the oldest is dropped, counted and reported.
    size_t MemoryLimit = size_t{64} << 20;

    bool operator==(const TRecorderSettings&) const = default;
};
