// The INDI driver's rules: which port a DEVICE_PORT text names, the gaps as
// the options dialog offers them, the four INDI rates on the three speeds,
// and the coordinate texts of its messages.

#include <gtest/gtest.h>

#include <cmath>

#include "indi/driver_rules.h"

using namespace tavro::indi;

TEST(DriverPort, ComNumbersAndDevicePaths)
{
    const tavro::PortMap settingsMap = {{4, "/dev/other"}, {7, "/dev/ttyS3"}, {40, "/dev/serial/by-id/usb-x"}};
    struct Case {
        const char* text;
        int number;   // 0: refused
    } const cases[] = {
        {"COM5", 5},
        {" com12 ", 12},
        {"COM255", 255},
        {"COM0", 0},
        {"COM256", 0},
        {"COMX", 0},
        {"", 0},
        {"ttyUSB0", 0},
        {"/dev/ttyUSB0", 33},             // the fixed rule
        {"/dev/ttyACM1", 66},
        {"/dev/ttyS3", 7},                // COM4 is mapped elsewhere: the [Ports] entry
        {"/dev/ttyS5", 6},
        {"/dev/serial/by-id/usb-x", 40},  // the [Ports] entry
    };
    for (const Case& tc : cases) {
        tavro::PortMap map = settingsMap;
        const PortChoice choice = ChoosePort(tc.text, map);
        EXPECT_EQ(choice.number, tc.number) << "'" << tc.text << "'";
        EXPECT_EQ(choice.error.empty(), tc.number != 0) << "'" << tc.text << "': " << choice.error;
        EXPECT_EQ(map, settingsMap) << "a known port changes no mapping";
    }
}

TEST(DriverPort, UnmappedPathTakesAFreeNumberAboveTheFixedRule)
{
    tavro::PortMap map = {{97, "/dev/taken"}};
    const PortChoice first = ChoosePort("/tmp/board", map);
    EXPECT_EQ(first.number, 98);
    EXPECT_EQ(tavro::PortDevicePath(98, map), "/tmp/board");
    EXPECT_EQ(ChoosePort("/tmp/board", map).number, 98);  // the same number next time
    EXPECT_EQ(ChoosePort("/tmp/other", map).number, 99);

    for (int n = 97; n <= tavro::kLastPort; ++n)
        map[n] = "/dev/x" + std::to_string(n);
    const PortChoice none = ChoosePort("/tmp/more", map);
    EXPECT_EQ(none.number, 0);
    EXPECT_NE(none.error.find("/tmp/more"), std::string::npos);
}

TEST(DriverSettings, GapsAsTheDialogOffersThem)
{
    struct Case {
        double given;
        double ra;    // the RA gap: hundredths of a minute, 0..4.00
        double dec;   // the Dec gap: tenths of a minute, 0..60.0
    } const cases[] = {
        {0, 0 * 0.01, 0 * 0.1},
        {1.234, 123 * 0.01, 12 * 0.1},
        {0.005, 1 * 0.01, 0 * 0.1},
        {4.5, 400 * 0.01, 45 * 0.1},
        {61, 400 * 0.01, 600 * 0.1},
        {-1, 0, 0},
        {std::nan(""), 0, 0},
    };
    for (const Case& tc : cases) {
        EXPECT_EQ(RaGapAsOffered(tc.given), tc.ra) << tc.given;
        EXPECT_EQ(DecGapAsOffered(tc.given), tc.dec) << tc.given;
    }
}

TEST(DriverRates, FourRatesOnThreeSpeedsLabelledWithTheModelsSpeeds)
{
    tavro::MountSpeeds eq5{2.5, 10, 57.6, 54.5};
    tavro::MountSpeeds eq4{4, 8, 45.2, 41.0};
    const struct {
        tavro::MoveSpeed speed;
        const char* eq5;
        const char* eq4;
    } expected[kSlewRateCount] = {
        {tavro::MoveSpeed::Slow, "Slow 2.5x", "Slow 4x"},
        {tavro::MoveSpeed::Fast, "Fast 10x", "Fast 8x"},
        {tavro::MoveSpeed::Goto, "Goto 58x", "Goto 45x"},
        {tavro::MoveSpeed::Goto, "Goto 58x", "Goto 45x"},
    };
    for (int i = 0; i < kSlewRateCount; ++i) {
        EXPECT_EQ(BoardSpeedOfRate(i), expected[i].speed) << i;
        EXPECT_EQ(SlewRateLabel(eq5, i), expected[i].eq5) << i;
        EXPECT_EQ(SlewRateLabel(eq4, i), expected[i].eq4) << i;
    }
}

TEST(DriverTexts, CoordinatesRoundToTheSecondWithoutSixty)
{
    const struct {
        double hours;
        const char* text;
    } hours[] = {
        {5.5, "05:30:00"}, {6.2, "06:12:00"}, {23.99999, "00:00:00"}, {-0.5, "23:30:00"}, {12.999999, "13:00:00"},
    };
    for (const auto& tc : hours)
        EXPECT_EQ(FormatHours(tc.hours), tc.text) << tc.hours;
    const struct {
        double degrees;
        const char* text;
    } degrees[] = {
        {-5, "-05:00:00"}, {45.50336, "+45:30:12"}, {-0.00001, "+00:00:00"}, {89.99999, "+90:00:00"}, {-16.74485, "-16:44:41"},
    };
    for (const auto& tc : degrees)
        EXPECT_EQ(FormatDegrees(tc.degrees), tc.text) << tc.degrees;
    EXPECT_EQ(OneLine("Can't find port COM7\nThere is no device /dev/ttyS6."),
              "Can't find port COM7 There is no device /dev/ttyS6.");
}

TEST(DriverPark, SiderealTimeFromErfaAgreesWithTheMeanSiderealTimeSeries)
{
    // GMST = 18.697374558 h + 24.06570982441908 h per day from J2000.0 (the
    // series good to about 0.1 s over this century); plus the longitude.
    struct Case {
        double unixSeconds;
        double longitude;  // degrees east
    } const cases[] = {
        {946728000, 0},             // 2000-01-01 12:00 UTC: J2000.0
        {946728000, 15},
        {1768435200, 11.6},         // 2026-01-15 00:00 UTC
        {1797625800, 359.0},        // 2026-12-18 20:30 UTC, far west as INDI gives it (0..360)
        {1797625800, -1.0},         // the same place, west negative
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unixSeconds);
        const double days = (c.unixSeconds - 946728000) / 86400.0;
        const double expected = std::fmod(18.697374558 + 24.06570982441908 * days + c.longitude / 15.0 + 48.0, 24.0);
        const double lst = tavro::LocalSiderealTime(c.unixSeconds, c.longitude);
        EXPECT_NEAR(lst, expected, 1.0 / 3600);  // within a second of time
        EXPECT_GE(lst, 0);
        EXPECT_LT(lst, 24);
    }
}

TEST(DriverPark, HomeIsThePoleWithTheCounterweightDownAndKeepsItsHourAngle)
{
    EXPECT_EQ(DefaultParkPosition(48.1).dec, 90);
    EXPECT_EQ(DefaultParkPosition(-33.9).dec, -90);
    EXPECT_EQ(DefaultParkPosition(48.1).hourAngle, 0);

    // The park point is the RA that has the park's hour angle now.
    struct Case {
        ParkPosition park;
        double lst;
        double ra;
    } const cases[] = {
        {{0, 90}, 5.25, 5.25},
        {{3, 40}, 1.0, 22.0},     // west of the meridian, across 0 h
        {{-2.5, -10}, 23.0, 1.5},
    };
    for (const Case& c : cases) {
        const tavro::SkyPoint p = ParkPoint(c.park, c.lst);
        EXPECT_NEAR(p.ra, c.ra, 1e-12) << c.lst;
        EXPECT_EQ(p.dec, c.park.dec);
        EXPECT_NEAR(HourAngle(p.ra, c.lst), c.park.hourAngle, 1e-12) << c.lst;
    }
    EXPECT_NEAR(HourAngle(23.0, 1.0), 2.0, 1e-12);
    EXPECT_NEAR(HourAngle(1.0, 23.0), -2.0, 1e-12);
    EXPECT_NEAR(HourAngle(0.0, 12.0), -12.0, 1e-12);
}
