// The seven display colours the colour dialog edits, as the settings file keeps them: three in
// [Data], two in [Temperatures], two in [FFT], each a Windows colour value 0x00BBGGRR in
// decimal (LoadSettings and SaveSettings read and write them). No Qt.
#pragma once

#include <cstdint>

struct TColourSettings {
    int32_t DataFgdCol = 65280;
    int32_t DataFirstSampleCol = 255;
    int32_t DataBgdCol = 0;
    int32_t TemperaturesFgdCol = 65280;
    int32_t TemperaturesBgdCol = 0;
    int32_t FftFgdCol = 16776960;
    int32_t FftBgdCol = 0;

    bool operator==(const TColourSettings&) const = default;
};
