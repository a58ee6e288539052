#include "monitor/gps_texts.h"

#include <cstdio>
#include <initializer_list>

#include "monitor/header_texts.h"

namespace {

struct TCodeText {
    char Code;
    const char* Text;
};

std::string CodeText(char code, std::initializer_list<TCodeText> table) {
    for (const TCodeText& entry : table) {
        if (entry.Code == code) {
            return entry.Text;
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "Unknown (0x%2.2x)",
                  unsigned(static_cast<unsigned char>(code)));
    return text;
}

std::string Printf2(const char* format, int a, int b, int c) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::string Position(int degrees, double minutes, char hemisphere,
                     const TNumberSeparators& separators) {
    return std::to_string(degrees) + " deg " + FormatNumber(minutes, 4, separators) + " min " +
           std::string(HemisphereName(hemisphere));
}

}  // namespace

std::string_view HemisphereName(char hemisphere) {
    switch (hemisphere) {
        case 'N':
            return "North";
        case 'S':
            return "South";
        case 'E':
            return "East";
        case 'W':
            return "West";
        default:
            return " ";
    }
}

std::string GpsSourceText(char fixSource) {
    return CodeText(fixSource, {{'0', "2D GPS"},
                                {'1', "3D GPS"},
                                {'2', "2D DGPS"},
                                {'3', "3D DGPS"},
                                {'6', "DR"},
                                {'8', "Degraded DR"},
                                {'9', "Unknown"}});
}

std::string GpsAgeText(char fixAge) {
    return CodeText(fixAge,
                    {{'0', "Not available"}, {'1', "Old, >10 sec"}, {'2', "Fresh, <10 sec"}});
}

std::string GpsTrackingText(char status1) {
    return CodeText(status1, {{'0', "Doing position fixes"},
                              {'1', "Don't have GPS time yet"},
                              {'2', "Good (not used)"},
                              {'3', "PDOP is too high"},
                              {'8', "No usable satellites"},
                              {'9', "Only 1 usable satellite"},
                              {'A', "Only 2 usable satellites"},
                              {'B', "Only 3 usable satellites"},
                              {'C', "Chosen satellite is unusable"}});
}

std::string GpsAntennaText(char status2) {
    return CodeText(status2, {{'0', "No problems reported"},
                              {'1', "Not used"},
                              {'2', "Open"},
                              {'3', "Not used"},
                              {'4', "Not used"},
                              {'5', "Not used"},
                              {'6', "Short"}});
}

std::string GpsRamText(char status3) {
    return CodeText(status3, {{'0', "No problems reported"}, {'1', "Not available at power-up"}});
}

std::string GpsRtcText(char statusFlag) {
    return CodeText(statusFlag, {{'0', "No problems reported"},
                                 {'2', "Not available at power-up"},
                                 {'8', "Almanac not complete"},
                                 {'A', "Not available; almanac invalid"}});
}

TGpsPageUpdate GpsPageUpdate(const TGpsInfo& gps, uint32_t blockCount, int32_t lastValidGpsBlock,
                             const TNumberSeparators& separators) {
    TGpsPageUpdate u;
    if (gps.Present == 0) {
        return u;
    }
    u.Present = true;
    std::string text = DeviceTextToUtf8(gps.Text, sizeof gps.Text);
    for (char& c : text) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    u.MemoLine = FormatNumber(blockCount, 0, separators) + "-" +
                 FormatNumber(lastValidGpsBlock, 0, separators) + ": " + text;

    const bool dated = gps.Day != 0;
    if (dated) {
        u.GPSDate = Printf2("%2.2d/%2.2d/%d", gps.Day, gps.Month, gps.Year);
        u.GPSTime = Printf2("%2.2d:%2.2d:%2.2d", gps.Hour, gps.Minute, gps.Second);
        u.GPSLat = Position(gps.LatDegrees, gps.LatMinutes, gps.LatHemisphere, separators);
        u.GPSLong = Position(gps.LonDegrees, gps.LonMinutes, gps.LonHemisphere, separators);
        u.GPSDets[0] = FormatNumber(gps.Speed, 1, separators) + " mph";
        u.GPSDets[1] = FormatNumber(gps.Course, 1, separators) + " deg";
    }
    // This very block carried the last valid fix (compared as 64-bit: -1 never matches).
    const bool inLock = gps.FixValid != 0 && int64_t(lastValidGpsBlock) == int64_t(blockCount);
    u.GPSStatus = inLock ? "Yes" : "No";

    if (gps.Source == 1) {
        for (std::optional<std::string>* label :
             {&u.GPSSecs, &u.GPSUTC, &u.GPSAlt, &u.GPSSource, &u.GPSAge, &u.GPSTracking,
              &u.GPSAntenna, &u.GPSRAM, &u.GPSRTC, &u.GPSDets[2], &u.GPSSVs, &u.GPSID}) {
            *label = "";
        }
        u.GPSDets[3] = FormatNumber(gps.MagVariation, 1, separators) + " deg " +
                       std::string(HemisphereName(gps.MagVariationDir));
    } else if (gps.Source == 2) {
        if (dated) {
            u.GPSSecs = FormatNumber(gps.TimeOfDay, 0, separators) + " secs";
            u.GPSUTC = std::to_string(gps.UtcOffset) +
                       (gps.TimeValid != 0 ? " secs (Valid)" : " secs (Invalid)");
            u.GPSAlt = FormatNumber(gps.Altitude, 0, separators) + " meters";
            u.GPSDets[2] = FormatNumber(gps.VerticalVelocity, 1, separators) + " mph";
            u.GPSDets[3] = "";
            u.GPSSource = GpsSourceText(gps.FixSource);
            u.GPSAge = GpsAgeText(gps.FixAge);
        }
        u.GPSTracking = GpsTrackingText(gps.Status1);
        u.GPSAntenna = GpsAntennaText(gps.Status2);
        u.GPSRAM = GpsRamText(gps.Status3);
        u.GPSRTC = GpsRtcText(gps.StatusFlag);
        u.GPSSVs = std::to_string(gps.SvCount);
        u.GPSID = DeviceTextToUtf8(gps.StatusCode, sizeof gps.StatusCode);
    }
    return u;
}

std::vector<std::pair<std::string, std::string>> TGpsPageUpdate::Changes() const {
    std::vector<std::pair<std::string, std::string>> changes;
    const auto add = [&changes](const char* name, const std::optional<std::string>& text) {
        if (text) {
            changes.emplace_back(name, *text);
        }
    };
    add("GPSDate", GPSDate);
    add("GPSTime", GPSTime);
    add("GPSSecs", GPSSecs);
    add("GPSUTC", GPSUTC);
    add("GPSLat", GPSLat);
    add("GPSLong", GPSLong);
    add("GPSAlt", GPSAlt);
    add("GPSStatus", GPSStatus);
    add("GPSSource", GPSSource);
    add("GPSAge", GPSAge);
    add("GPSTracking", GPSTracking);
    add("GPSAntenna", GPSAntenna);
    add("GPSRAM", GPSRAM);
    add("GPSRTC", GPSRTC);
    add("GPSSVs", GPSSVs);
    add("GPSID", GPSID);
    add("GPSDets1", GPSDets[0]);
    add("GPSDets2", GPSDets[1]);
    add("GPSDets3", GPSDets[2]);
    add("GPSDets4", GPSDets[3]);
    return changes;
}
