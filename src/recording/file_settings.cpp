#include "recording/file_settings.h"

#include "settings/ini_values.h"

void LoadFileSettings(TFileSettings& s, const TIniFile& ini) {
    s.Enable = ReadSettingsInteger(ini, "Files", "Enable", 0);
    s.Location = ReadSettingsText(ini, "Files", "Location", s.Location);
    s.Network = ReadSettingsText(ini, "Files", "Network", s.Network);
    s.UseSerialNumber = ReadSettingsInteger(ini, "Files", "UseSerialNumber", 0);
    s.Station = ReadSettingsText(ini, "Files", "Station", s.Station);
    s.BaseDir = ReadSettingsText(ini, "Files", "BaseDir", s.BaseDir);
    if (!s.BaseDir.empty() && s.BaseDir.back() == '/') {
        s.BaseDir.pop_back();
    }
    const int32_t minutes = ReadSettingsInteger(ini, "Files", "DurationMinutes", s.DurationMinutes);
    TakeIfAccepted(s.DurationMinutes, minutes, minutes >= 1 && minutes <= 60);
}

void SaveFileSettings(const TFileSettings& s, TIniFile& ini) {
    WriteSettingsInteger(ini, "Files", "Enable", s.Enable);
    ini.Set("Files", "Location", s.Location);
    ini.Set("Files", "Network", s.Network);
    WriteSettingsInteger(ini, "Files", "UseSerialNumber", s.UseSerialNumber);
    ini.Set("Files", "Station", s.Station);
    const bool slash = !s.BaseDir.empty() && s.BaseDir.back() == '/';
    ini.Set("Files", "BaseDir", slash ? s.BaseDir + "/" : s.BaseDir);
    WriteSettingsInteger(ini, "Files", "DurationMinutes", s.DurationMinutes);
}
