// The FDSN availability service (version 1) over the archive's spans: /extent, one row per
// stream (and rate) with its earliest and latest data and the number of its spans; /query, the
// spans themselves, cut to the query's window. Answers in the FDSN text, JSON and GeoCSV forms
// and as dataselect POST lines (`format=request`). The data of the archive is all of quality D.
#pragma once

#include <cstdint>
#include <string>

#include "recording/archive_spans.h"
#include "web/fdsn_request.h"

// The version of the FDSN availability web service this server answers as.
inline constexpr char AvailabilityVersion[] = "1.0.2";

struct TAvailabilityAnswer {
    std::string ContentType;
    std::string Body;
    bool Empty = true;  // no stream matched: the answer is that of `nodata`
};

TAvailabilityAnswer AnswerAvailability(const TArchiveSpans& spans, const TAvailabilityQuery& query,
                                       int64_t nowMicroseconds);
