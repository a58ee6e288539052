#include "colours/colour_settings.h"

#include "settings/ini_values.h"

namespace {

struct TColourKey {
    const char* Key;
    int32_t TColourSettings::*Colour;
};

struct TColourKeys {
    const char* Section;
    TColourKey Keys[3];
    int Count;
};

constexpr TColourKeys Sections[] = {
    {"Data",
     {{"FgdCol", &TColourSettings::DataFgdCol},
      {"FirstSampleCol", &TColourSettings::DataFirstSampleCol},
      {"BgdCol", &TColourSettings::DataBgdCol}},
     3},
    {"Temperatures",
     {{"FgdCol", &TColourSettings::TemperaturesFgdCol},
      {"BgdCol", &TColourSettings::TemperaturesBgdCol}},
     2},
    {"FFT", {{"FgdCol", &TColourSettings::FftFgdCol}, {"BgdCol", &TColourSettings::FftBgdCol}}, 2},
};

}  // namespace

void LoadColours(TColourSettings& colours, const TIniFile& ini, TColourSection section) {
    const TColourKeys& s = Sections[static_cast<int>(section)];
    for (int k = 0; k < s.Count; ++k) {
        int32_t& colour = colours.*(s.Keys[k].Colour);
        colour = ReadSettingsInteger(ini, s.Section, s.Keys[k].Key, colour);
    }
}

void SaveColours(const TColourSettings& colours, TIniFile& ini, TColourSection section) {
    const TColourKeys& s = Sections[static_cast<int>(section)];
    for (int k = 0; k < s.Count; ++k) {
        WriteSettingsInteger(ini, s.Section, s.Keys[k].Key, colours.*(s.Keys[k].Colour));
    }
}
