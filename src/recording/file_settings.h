// The [Files] section: the window's recording options, which the data file dialog edits and
// the recorder takes in its own layout's settings.
#pragma once

#include <cstdint>
#include <string>

#include "settings/ini_file.h"

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

// Reads the section in the order of its table: Enable and UseSerialNumber default to 0
// whatever they held; BaseDir loses one trailing "/"; DurationMinutes outside 1..60 and other
// missing keys leave their fields as they were.
void LoadFileSettings(TFileSettings& files, const TIniFile& ini);
// Writes every key in table order; a BaseDir that ends in "/" gets one more, so that
// LoadFileSettings gives it back unchanged.
void SaveFileSettings(const TFileSettings& files, TIniFile& ini);
