// The dataselect service over the SDS archive (ROOT/YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY):
// the day files a query selects, the size of the answer they may make, and the records that
// overlap the query's windows, read from the files piece by piece and handed on as they are
// read, so that an answer is never held whole in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "seedfile/record_head.h"
#include "web/fdsn_request.h"

// One day file of one stream and the windows of the query it is read for.
struct TDayFileRead {
    std::string Path;
    std::string Stream;  // NET.STA.LOC.CHA
    int Day = 0;         // days since 1970
    uint64_t Size = 0;
    std::vector<std::pair<int64_t, int64_t>> Windows;
};

// The day files the query selects, each once, in order of stream, then day.
std::vector<TDayFileRead> SelectDayFiles(const std::string& root, const TDataSelectQuery& query);

// The bytes the answer may take: of each file the part of its day its windows cover.
uint64_t EstimatedBytes(const std::vector<TDayFileRead>& files);

// Hands the records of `files` that overlap a window to `sink`, in the files' order, a record
// at a time; stops when the sink returns false. The number of records handed on.
int64_t SendRecords(const std::vector<TDayFileRead>& files,
                    const std::function<bool(std::span<const uint8_t>)>& sink);
