// The head of a miniSEED 2 record (big-endian, as the archive holds it): its codes, its time
// span and its length, from the fixed header and the blockette chain up to blockette 1000
// (whatever other blockettes come before it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// What a miniSEED 2 record's fixed header and blockette 1000 say about it.
struct TRecordHead {
    std::string Network, Station, Location, Channel;
    int64_t Start = 0;  // first sample, microseconds since 1970 UTC
    int64_t End = 0;    // one sample period after the last sample
    int Samples = 0;
    double SampleRate = 0;  // samples per second; 0 when the header gives none
    size_t Length = 0;      // bytes of the whole record
};

// The head of the record at the start of `bytes` (at least the 48-byte header and the
// blockettes up to blockette 1000); nothing when it is no such record.
std::optional<TRecordHead> ReadRecordHead(std::span<const uint8_t> bytes);
