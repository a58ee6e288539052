// SEED data files: one file per channel and file period, in a day directory under
// the base directory, written whole in one call.
//
// The file is created exclusively and an
// existing file is never replaced (a clash takes the name with ".1", ".2", ... appended);
// record start times are the file start plus samples / rate in exact integer arithmetic; and
// every failure is returned, with the path and the system's reason, so that it can be reported.
#pragma once

#include <cstddef>
#include <string>

#include "base/result.h"
#include "seedfile/seed_record.h"
#include "seedfile/seed_time.h"

// What one data file holds besides its samples.
struct TSeedFileParams {
    std::string BaseDir;  // without a trailing "/"
    TSeedCodes Codes;
    int BytesPerSample = 3;  // 1 to 4, as the samples were recorded
    double SampleRate = 0;   // samples per second
    TSeedTime StartTime;     // of the first sample, UTC
};

// "%s/%3.3d": the base directory and the day of year of `start`.
std::string SeedDayDirectory(const std::string& baseDir, TSeedTime start);

// "%s/%5s.%2s.%2s.%4.4d.%3.3d.%2.2d%2.2d%2.2d.%3s": day directory, station, network, location,
// year, day of year, hour, minute, second of the start, channel code. Codes shorter than their
// width get leading spaces; longer ones are used whole. A "/" or NUL in a code becomes "_", so
// that the file stays in its day directory whatever the codes hold.
std::string SeedFilePath(const TSeedFileParams& params);

// A station code taken from the digitizer's serial number, made safe for file names: every
// character but a letter, a digit, "-" and "_" becomes "_".
std::string SafeStationCode(const std::string& serialNumber);

// A file opened by CreateSeedFile.
struct TCreatedSeedFile {
    TResult<int> Fd;    // open for writing, or what failed and the system's reason
    std::string Path;   // the file made, or the file that could not be
    std::string Clash;  // when the name was taken: the line that says so and names the new file
};

// Makes the day directory and any missing parents, then creates the file exclusively (mode
// 0666 less the umask). When a file of that name exists, the name with ".1", ".2", ... appended
// is taken instead (up to ".9999").
TCreatedSeedFile CreateSeedFile(const TSeedFileParams& params);

// The outcome of writing one file.
struct TSeedFileResult {
    TStatus Status;      // the file holds every sample and was closed without error, or what failed
    std::string Path;    // the file written, or the one that could not be
    std::string Clash;   // as TCreatedSeedFile::Clash
    size_t Records = 0;  // records that are in the file
};

// Creates the file and writes all `samples` into it, record after record (each record in one
// write of 4096 bytes); sequence numbers start at 1 and the first difference of the file is
// taken against 0. A write that fails or runs short (a full disk) leaves the file cut back to
// its whole records (removed when it has none) and the result failed. An empty list gives
// an empty file.
TSeedFileResult WriteSeedFile(const TSeedFileParams& params, const TSampleView& samples);
