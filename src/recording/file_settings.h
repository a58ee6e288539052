// The [Files] section: the window's recording options, which the data file dialog edits and
// the recorder takes in its own layout's settings (LoadSettings and SaveSettings read and
// write them).
#pragma once

#include <cstdint>
#include <string>

struct TFileSettings {
    int32_t Enable = 0;  // recording on when non-zero
    std::string Location = "LO";
    std::string Network = "NK";
    int32_t UseSerialNumber = 0;  // non-zero: Station follows the digitizer's serial number
    std::string Station = "STATN";
    std::string BaseDir;          // "recorderfiles" in the home directory by default
    int32_t DurationMinutes = 5;  // 1..60

    bool operator==(const TFileSettings&) const = default;
};
