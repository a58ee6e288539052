// GPS page texts: which labels a block sets, keeps or empties, their formats, and the
// receiver report code tables.
#include "monitor/gps_texts.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const TNumberSeparators Comma{",", "."};

TGpsInfo Sentence() {
    TGpsInfo gps;
    std::strcpy(gps.Text, "$GPRMC,070809,A,5130.2500,S");
    gps.Present = 1;
    gps.Source = 1;
    gps.FixValid = 1;
    gps.Day = 5;
    gps.Month = 3;
    gps.Year = 2024;
    gps.Hour = 7;
    gps.Minute = 8;
    gps.Second = 9;
    gps.LatDegrees = 51;
    gps.LatMinutes = 30.25;
    gps.LatHemisphere = 'S';
    gps.LonDegrees = 0;
    gps.LonMinutes = 1234.5;
    gps.LonHemisphere = 'x';
    gps.Speed = 1.26;
    gps.Course = 359.96;
    gps.MagVariation = 2.5;
    gps.MagVariationDir = 'E';
    return gps;
}

TGpsInfo Reports() {
    TGpsInfo gps = Sentence();
    std::strcpy(gps.Text, ">RTM0708092105032024");
    gps.Source = 2;
    gps.TimeOfDay = 12345;
    gps.UtcOffset = 13;
    gps.TimeValid = 0;
    gps.Altitude = -12;
    gps.VerticalVelocity = -0.26;
    gps.FixSource = '3';
    gps.FixAge = '2';
    gps.Status1 = 'A';
    gps.Status2 = '4';
    gps.Status3 = '1';
    gps.StatusFlag = '8';
    std::strcpy(gps.StatusCode, "0B");
    gps.SvCount = 7;
    return gps;
}

}  // namespace

TEST(GpsTexts, WithoutGpsNothingChanges) {
    TGpsInfo gps = Sentence();
    gps.Present = 0;
    const TGpsPageUpdate u = GpsPageUpdate(gps, 1, 1, Comma);
    EXPECT_FALSE(u.Present);
    EXPECT_EQ(u.MemoLine, "");
    EXPECT_TRUE(u.Changes().empty());
}

TEST(GpsTexts, SentenceBlock) {
    const TGpsPageUpdate u = GpsPageUpdate(Sentence(), 12345, 12340, Comma);
    EXPECT_TRUE(u.Present);
    EXPECT_EQ(u.MemoLine, "12,345-12,340: $GPRMC,070809,A,5130.2500,S");
    EXPECT_EQ(u.GPSDate, "05/03/2024");
    EXPECT_EQ(u.GPSTime, "07:08:09");
    EXPECT_EQ(u.GPSLat, "51 deg 30.2500 min South");
    EXPECT_EQ(u.GPSLong, "0 deg 1,234.5000 min  ");  // unknown hemisphere: a space
    EXPECT_EQ(u.GPSDets[0], "1.3 mph");
    EXPECT_EQ(u.GPSDets[1], "360.0 deg");
    EXPECT_EQ(u.GPSDets[3], "2.5 deg East");
    EXPECT_EQ(u.GPSStatus, "No");  // the last valid fix was an earlier block
    for (const auto* label :
         {&u.GPSSecs, &u.GPSUTC, &u.GPSAlt, &u.GPSSource, &u.GPSAge, &u.GPSTracking, &u.GPSAntenna,
          &u.GPSRAM, &u.GPSRTC, &u.GPSDets[2], &u.GPSSVs, &u.GPSID}) {
        EXPECT_EQ(*label, "");  // emptied, not kept
    }
    EXPECT_EQ(u.Changes().size(), 20u);

    EXPECT_EQ(GpsPageUpdate(Sentence(), 12345, 12345, Comma).GPSStatus, "Yes");
    TGpsInfo invalid = Sentence();
    invalid.FixValid = 0;
    EXPECT_EQ(GpsPageUpdate(invalid, 12345, 12345, Comma).GPSStatus, "No");
    EXPECT_EQ(GpsPageUpdate(Sentence(), 4294967295u, -1, Comma).GPSStatus, "No");
    EXPECT_EQ(GpsPageUpdate(Sentence(), 4294967295u, -1, Comma).MemoLine.substr(0, 18),
              "4,294,967,295--1: ");

    TGpsInfo twoLines = Sentence();
    std::strcpy(twoLines.Text, "$GPRMC,1*7A\r\nX");
    EXPECT_EQ(GpsPageUpdate(twoLines, 1, 1, Comma).MemoLine, "1-1: $GPRMC,1*7A  X");
}

TEST(GpsTexts, ReceiverReportBlock) {
    const TGpsPageUpdate u = GpsPageUpdate(Reports(), 100, 100, Comma);
    EXPECT_EQ(u.GPSSecs, "12,345 secs");
    EXPECT_EQ(u.GPSUTC, "13 secs (Invalid)");
    EXPECT_EQ(u.GPSAlt, "-12 meters");
    EXPECT_EQ(u.GPSDets[2], "-0.3 mph");
    EXPECT_EQ(u.GPSDets[3], "");
    EXPECT_EQ(u.GPSSource, "3D DGPS");
    EXPECT_EQ(u.GPSAge, "Fresh, <10 sec");
    EXPECT_EQ(u.GPSTracking, "Only 2 usable satellites");
    EXPECT_EQ(u.GPSAntenna, "Not used");
    EXPECT_EQ(u.GPSRAM, "Not available at power-up");
    EXPECT_EQ(u.GPSRTC, "Almanac not complete");
    EXPECT_EQ(u.GPSSVs, "7");
    EXPECT_EQ(u.GPSID, "0B");
    EXPECT_EQ(u.GPSStatus, "Yes");

    TGpsInfo valid = Reports();
    valid.TimeValid = 1;
    valid.UtcOffset = -2;
    EXPECT_EQ(GpsPageUpdate(valid, 1, 1, Comma).GPSUTC, "-2 secs (Valid)");

    // Without a date the time, position, motion, seconds, offset, altitude, source and age
    // keep their texts; the status reports are still shown.
    TGpsInfo undated = Reports();
    undated.Day = 0;
    const TGpsPageUpdate k = GpsPageUpdate(undated, 100, 99, Comma);
    for (const auto* kept :
         {&k.GPSDate, &k.GPSTime, &k.GPSLat, &k.GPSLong, &k.GPSSecs, &k.GPSUTC, &k.GPSAlt,
          &k.GPSSource, &k.GPSAge, &k.GPSDets[0], &k.GPSDets[1], &k.GPSDets[2], &k.GPSDets[3]}) {
        EXPECT_FALSE(kept->has_value());
    }
    EXPECT_EQ(k.GPSStatus, "No");
    EXPECT_EQ(k.GPSTracking, "Only 2 usable satellites");
    EXPECT_EQ(k.GPSID, "0B");
    EXPECT_EQ(k.Changes().size(), 7u);

    TGpsInfo other = Reports();
    other.Source = 0;
    const TGpsPageUpdate o = GpsPageUpdate(other, 100, 100, Comma);
    EXPECT_EQ(o.GPSDate, "05/03/2024");
    EXPECT_FALSE(o.GPSTracking.has_value());
    EXPECT_FALSE(o.GPSSecs.has_value());
}

TEST(GpsTexts, CodeTables) {
    EXPECT_EQ(HemisphereName('N'), "North");
    EXPECT_EQ(HemisphereName('W'), "West");
    EXPECT_EQ(HemisphereName('n'), " ");
    EXPECT_EQ(GpsAntennaText('4'), "Not used");
    EXPECT_EQ(GpsAntennaText('6'), "Short");
    EXPECT_EQ(GpsAntennaText('7'), "Unknown (0x37)");
    EXPECT_EQ(GpsRtcText('A'), "Not available; almanac invalid");
    EXPECT_EQ(GpsRtcText('a'), "Unknown (0x61)");
    EXPECT_EQ(GpsRtcText('1'), "Unknown (0x31)");
    EXPECT_EQ(GpsTrackingText('C'), "Chosen satellite is unusable");
    EXPECT_EQ(GpsTrackingText('4'), "Unknown (0x34)");
    EXPECT_EQ(GpsSourceText('9'), "Unknown");
    EXPECT_EQ(GpsSourceText('4'), "Unknown (0x34)");
    EXPECT_EQ(GpsSourceText('\0'), "Unknown (0x00)");
    EXPECT_EQ(GpsAgeText('\xff'), "Unknown (0xff)");
    EXPECT_EQ(GpsRamText('0'), "No problems reported");
}
