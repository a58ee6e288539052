// One miniSEED record made for live delivery (the SeedLink server's ring, the DataLink push):
// the stream it belongs to, its first and last sample times, and its bytes. Records of one
// stream come in order; records of different streams interleave as the data arrives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "seedfile/seed_time.h"

struct TLiveRecord {
    std::string Network;
    std::string Station;
    std::string Location;
    std::string Channel;
    TSeedTime Start;             // of the first sample
    TSeedTime End;               // of the last sample
    std::vector<uint8_t> Bytes;  // one whole record (512 bytes for SeedLink)
};
