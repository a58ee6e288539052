// The two forms in which the unit passes on its GPS receiver's information: an NMEA "$GPRMC"
// sentence in fixed columns (MOD record) or the receiver's own reports (MDE record).
#pragma once

#include <array>

#include "sim/frame_encoder.h"

// Values of one RMC sentence. Numbers that do not fit their columns are clamped.
struct TRmcFix {
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    bool Valid = true;
    int LatDegrees = 0;
    double LatMinutes = 0;
    char LatHemisphere = 'N';
    int LonDegrees = 0;
    double LonMinutes = 0;
    char LonHemisphere = 'E';
    double Speed = 0;
    double Course = 0;
    int Day = 1;
    int Month = 1;
    int Year = 2000;  // written as two digits
    double MagVariation = 0;
    char MagVariationDir = 'E';
};

// The 72-byte sentence area: "$GPRMC,hhmmss,A,ddmm.mmmm,N,dddmm.mmmm,E,sss.s,ccc.c,ddmmyy,
// vvv.v,E*hh" (70 characters, hh the XOR of the characters between "$" and "*"), then CR LF.
std::array<char, GpsAreaSize> FormatRmc(const TRmcFix& fix);

// Values of the receiver's time (">RTM"), position (">RPV"), altitude (">RAL", or ">?AL"
// without a valid altitude) and status (">RST") reports.
struct TReceiverReports {
    int TimeOfDay = 0;  // seconds since midnight
    char FixSource = '1';
    char FixAge = '2';
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Day = 1;
    int Month = 1;
    int Year = 2000;
    int UtcOffset = 0;
    int SvCount = 0;
    bool TimeValid = true;
    bool North = true;
    int LatDegrees = 0;
    int LatFraction = 0;  // fractions of a degree in units of 0.00001
    bool East = true;
    int LonDegrees = 0;
    int LonFraction = 0;
    int Speed = 0;
    int Course = 0;
    bool AltitudeValid = true;
    int Altitude = 0;
    int VerticalVelocity = 0;
    char Status1 = '0';
    char Status2 = '0';
    char Status3 = '0';
    std::array<char, 2> StatusCode{'0', '0'};
    char StatusFlag = '0';
};

// The 130-character report area: the reports in the order time, position, altitude, status,
// the first at position 2, each taking 39, 41, 28 and 21 characters; the rest blank.
std::array<char, ReportAreaSize> FormatReports(const TReceiverReports& reports);
