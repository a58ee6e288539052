// The seven display colours the colour dialog edits, as the settings file keeps them: three in
// [Data], two in [Temperatures], two in [FFT], each a Windows colour value 0x00BBGGRR in
// decimal. Core (no Qt), built in every configuration.
#pragma once

#include <cstdint>

#include "settings/ini_file.h"

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

// The section whose colours are read or written: [Data] (FgdCol, FirstSampleCol, BgdCol),
// [Temperatures] or [FFT] (FgdCol, BgdCol).
enum class TColourSection { Data, Temperatures, Fft };

// A missing key or one that is not a decimal integer leaves its colour as it was.
void LoadColours(TColourSettings& colours, const TIniFile& ini, TColourSection section);
void SaveColours(const TColourSettings& colours, TIniFile& ini, TColourSection section);
