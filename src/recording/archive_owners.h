// Which unit an archive's codes belong to: ARCHIVE/.owners/NET.STA.LOC holds the serial
// number of the unit that first recorded under those codes, so that a second unit given the
// same codes (two stations reading one configuration) is refused instead of mixing its
// records into the first one's files.
#pragma once

#include <string>

struct TArchiveClaim {
    std::string Owner;  // the serial number the codes belong to; empty when unknown
    std::string Error;  // "path: reason" when the owners file cannot be read or written
};

// Claims `codes` ("NET.STA.LOC") of `archive` for the unit `serialNumber` when no unit has
// them yet; otherwise tells who has. The check and the claim are one step under a lock of
// the owners directory, so two stations starting together cannot both claim.
TArchiveClaim ClaimArchiveCodes(const std::string& archive, const std::string& codes,
                                const std::string& serialNumber);
