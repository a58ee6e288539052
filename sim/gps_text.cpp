#include "sim/gps_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Writes printf output into exactly `width` characters at `out` (the result always fits,
// because every caller clamps its value first).
template <typename... TArgs>
void Put(char* out, int width, const char* format, TArgs... args) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, args...);
    std::memcpy(out, buffer, width);
}

// Rounds to `scale` steps and clamps to [0, max]; adding 0.0 turns -0.0 into 0.0 so that no
// minus sign takes a column.
double ClampRounded(double value, double scale, double max) {
    return std::clamp(std::round(value * scale) / scale, 0.0, max) + 0.0;
}

int Clamp(int value, int low, int high) {
    return std::clamp(value, low, high);
}

}  // namespace

std::array<char, GpsAreaSize> FormatRmc(const TRmcFix& fix) {
    std::array<char, GpsAreaSize> area;
    SetText(area, "$GPRMC,hhmmss,A,ddmm.mmmm,N,dddmm.mmmm,E,sss.s,ccc.c,ddmmyy,vvv.v,E*hh\r\n");
    char* s = area.data();
    Put(s + 7, 2, "%02d", Clamp(fix.Hour, 0, 99));
    Put(s + 9, 2, "%02d", Clamp(fix.Minute, 0, 99));
    Put(s + 11, 2, "%02d", Clamp(fix.Second, 0, 99));
    s[14] = fix.Valid ? 'A' : 'V';
    Put(s + 16, 2, "%02d", Clamp(fix.LatDegrees, 0, 99));
    Put(s + 18, 7, "%07.4f", ClampRounded(fix.LatMinutes, 1e4, 59.9999));
    s[26] = fix.LatHemisphere;
    Put(s + 28, 3, "%03d", Clamp(fix.LonDegrees, 0, 999));
    Put(s + 31, 7, "%07.4f", ClampRounded(fix.LonMinutes, 1e4, 59.9999));
    s[39] = fix.LonHemisphere;
    Put(s + 41, 5, "%05.1f", ClampRounded(fix.Speed, 10, 999.9));
    Put(s + 47, 5, "%05.1f", ClampRounded(fix.Course, 10, 999.9));
    Put(s + 53, 2, "%02d", Clamp(fix.Day, 0, 99));
    Put(s + 55, 2, "%02d", Clamp(fix.Month, 0, 99));
    Put(s + 57, 2, "%02d", ((fix.Year % 100) + 100) % 100);
    Put(s + 60, 5, "%05.1f", ClampRounded(fix.MagVariation, 10, 999.9));
    s[66] = fix.MagVariationDir;
    uint8_t check = 0;
    for (int i = 1; i < 67; ++i) {
        check ^= static_cast<uint8_t>(s[i]);
    }
    Put(s + 68, 2, "%02X", check);
    return area;
}

std::array<char, ReportAreaSize> FormatReports(const TReceiverReports& r) {
    std::array<char, ReportAreaSize> area;
    SetText(area, "");
    const int tod = Clamp(r.TimeOfDay, 0, 99999);

    char* tm = area.data() + 2;  // takes 39 characters
    std::memcpy(tm, ">RTM", 4);
    char* f = tm + 4;
    Put(f + 0, 2, "%02d", Clamp(r.Hour, 0, 99));
    Put(f + 2, 2, "%02d", Clamp(r.Minute, 0, 99));
    Put(f + 4, 2, "%02d", Clamp(r.Second, 0, 99));
    Put(f + 6, 3, "%03d", 0);  // milliseconds
    Put(f + 9, 2, "%02d", Clamp(r.Day, 0, 99));
    Put(f + 11, 2, "%02d", Clamp(r.Month, 0, 99));
    Put(f + 13, 4, "%04d", Clamp(r.Year, 0, 9999));
    Put(f + 17, 2, "%02d", Clamp(r.UtcOffset, 0, 99));
    f[19] = r.FixSource;
    Put(f + 20, 2, "%02d", Clamp(r.SvCount, 0, 99));
    f[22] = r.TimeValid ? '1' : '0';

    char* pv = tm + 39;  // takes 41
    std::memcpy(pv, ">RPV", 4);
    f = pv + 4;
    Put(f + 0, 5, "%05d", tod);
    f[5] = r.North ? '+' : '-';
    Put(f + 6, 2, "%02d", Clamp(r.LatDegrees, 0, 99));
    Put(f + 8, 5, "%05d", Clamp(r.LatFraction, 0, 99999));
    f[13] = r.East ? '+' : '-';
    Put(f + 14, 3, "%03d", Clamp(r.LonDegrees, 0, 999));
    Put(f + 17, 5, "%05d", Clamp(r.LonFraction, 0, 99999));
    Put(f + 22, 3, "%03d", Clamp(r.Speed, 0, 999));
    Put(f + 25, 3, "%03d", Clamp(r.Course, 0, 999));
    f[28] = r.FixSource;
    f[29] = r.FixAge;

    char* al = pv + 41;  // takes 28
    std::memcpy(al, r.AltitudeValid ? ">RAL" : ">?AL", 4);
    f = al + 4;
    Put(f + 0, 5, "%05d", tod);
    Put(f + 5, 6, "%+06d", Clamp(r.Altitude, -99999, 99999));
    Put(f + 11, 4, "%+04d", Clamp(r.VerticalVelocity, -999, 999));
    f[15] = r.FixSource;
    f[16] = r.FixAge;

    char* st = al + 28;  // takes 21; ends 1 character past the area, its fields well inside
    std::memcpy(st, ">RST", 4);
    f = st + 4;
    f[0] = '0';
    f[1] = r.Status1;
    f[2] = r.Status2;
    f[3] = r.Status3;
    f[4] = r.StatusCode[0];
    f[5] = r.StatusCode[1];
    f[6] = '0';
    f[7] = r.StatusFlag;
    return area;
}
