// SEED files read back with the distribution's libmseed, for the tests that hold the writer to
// what another reader makes of its files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TMseedRecord {
    int Sequence = 0;
    std::string Network, Station, Location, Channel;
    int64_t StartMicroseconds = 0;  // since 1970, UTC (libmseed's high-precision time)
    double SampleRate = 0;
    int SampleRateFactor = 0;
    int SampleRateMultiplier = 0;
    int64_t SampleCount = 0;
    int Encoding = -1;
    int ByteOrder = -1;
    int RecordLength = 0;
    int IoFlags = 0;  // I/O and clock flags (0x20: clock locked)
    // Of blockette 1001: the timing quality (-1 when the record has none) and frame count.
    int TimingQuality = -1;
    int FrameCount = 0;
    std::vector<int32_t> Samples;
};

struct TMseedFile {
    bool Ok = false;    // read to its end without an error
    std::string Error;  // libmseed's error text otherwise
    std::vector<TMseedRecord> Records;
    // Every line libmseed logged or reported while reading and joining the records; a good
    // file gives none.
    std::vector<std::string> Log;
    // Continuous segments libmseed makes of the records (1 for a file without gaps or
    // overlaps), with its default tolerances: half a sample period.
    int Segments = 0;

    // All samples, record after record.
    std::vector<int32_t> Samples() const;
};

TMseedFile ReadMseedFile(const std::string& path);
