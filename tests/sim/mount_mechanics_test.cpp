// Where the simulated mount truly points: each mechanical error alone moves
// the tube as spherical geometry says, and a faultless mount points exactly
// where its axes do.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tools/boardsim/mount_mechanics.h"

namespace tavro::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kArcmin = kDeg / 60.0;
constexpr double kLst = 7.25;  // hours; any fixed sidereal time

// Hour angle of a sky point at kLst, in radians (-pi, pi].
double HourAngle(const SkyPoint& point)
{
    return std::remainder((kLst - point.raHours) * 15.0 * kDeg, 2 * kPi);
}

// Axes standing at hour angle `hourAngleDeg` and Dec `decDeg` at kLst.
SkyPoint Truth(double hourAngleDeg, double decDeg, const Site& site, const MechanicalErrors& errors)
{
    return TruePointing(kLst - hourAngleDeg / 15.0, decDeg, kLst, site, errors);
}

struct GeometryCase {
    const char* name;
    double hourAngleDeg;
    double decDeg;
    Site site;
    MechanicalErrors errors;
    double expectHourAngle;  // radians
    double expectDec;        // radians
};

// Each expectation comes from spherical trigonometry of the one fault,
// worked out here rather than with the simulator's rotations.
std::vector<GeometryCase> GeometryCases()
{
    std::vector<GeometryCase> cases;
    const Site north{48.0, 11.0};
    const Site south{-33.0, 151.0};

    // Cone: the tube leans c toward the west out of square with the Dec
    // axis, so sin d' = cos c sin d and sin c = cos d' sin(H' - H).
    for (double dec : {0.0, 30.0, 60.0, -45.0}) {
        const double c = 8 * kArcmin;
        const double d = std::asin(std::cos(c) * std::sin(dec * kDeg));
        MechanicalErrors errors;
        errors.coneArcmin = 8;
        cases.push_back({"cone", 0.0, dec, north, errors, std::asin(std::sin(c) / std::cos(d)), d});
    }
    // Non-perpendicularity: the tube turns on a great circle through the
    // equator at H, inclined 90 - np to it: sin d' = cos np sin d,
    // tan(H' - H) = sin np tan d.
    for (double dec : {0.0, 40.0, 75.0, -60.0}) {
        const double np = 4 * kArcmin;
        MechanicalErrors errors;
        errors.nonPerpArcmin = 4;
        cases.push_back({"non-perp", 0.0, dec, north, errors, std::atan(std::sin(np) * std::tan(dec * kDeg)),
                         std::asin(std::cos(np) * std::sin(dec * kDeg))});
    }
    // The polar axis raised by e: along the meridian the sky sits e lower
    // (north) or, with the south pole raised, e higher (south).
    for (double dec : {-20.0, 0.0, 45.0, 80.0}) {
        MechanicalErrors errors;
        errors.polarAltArcmin = 25;
        cases.push_back({"polar altitude, north", 0.0, dec, north, errors, 0.0, (dec * kDeg) - 25 * kArcmin});
        cases.push_back({"polar altitude, south", 0.0, dec, south, errors, 0.0, (dec * kDeg) + 25 * kArcmin});
    }
    // The polar axis turned a east: the west point of the horizon goes a
    // north along it, to sin d' = cos(lat) sin a on the hour circle that
    // the horizon crosses there.
    {
        MechanicalErrors errors;
        errors.polarAzArcmin = 40;
        const double a = 40 * kArcmin, lat = 48.0 * kDeg;
        const double d = std::asin(std::cos(lat) * std::sin(a));
        // The horizon point at azimuth 270 + a: sin h = 0 gives
        // cos H = -tan(lat) tan d'.
        const double h = std::acos(-std::tan(lat) * std::tan(d));
        cases.push_back({"polar azimuth, west point", 90.0, 0.0, north, errors, h - 90.0 * kDeg, d});
        // The mount's own pole lies a east of the celestial pole at the
        // pole's altitude: sin d' = sin^2 lat + cos^2 lat cos a.
        const double dp = std::asin(std::sin(lat) * std::sin(lat) + std::cos(lat) * std::cos(lat) * std::cos(a));
        const double sinH = -std::sin(a) * std::cos(lat) / std::cos(dp);
        const double cosH = std::sin(lat) * (1 - std::sin(dp)) / (std::cos(lat) * std::cos(dp));
        cases.push_back({"polar azimuth, pole", 0.0, 90.0, north, errors, std::atan2(sinH, cosH), dp});
    }
    // Flexure: along the meridian the tube sinks F sin z toward the
    // horizon: south of the zenith to a lower Dec, north of it to a higher.
    for (double z : {0.0, 30.0, 60.0, 85.0, -20.0, -40.0}) {
        MechanicalErrors errors;
        errors.flexureArcmin = 1.5;
        const double dec = 48.0 - z;  // z < 0: north of the zenith
        const double sag = 1.5 * kArcmin * std::sin(std::fabs(z) * kDeg);
        cases.push_back({"flexure", 0.0, dec, north, errors, 0.0, dec * kDeg + (z >= 0 ? -sag : sag)});
    }
    return cases;
}

TEST(MountMechanics, EachErrorAloneMovesTheTubeAsItsGeometrySays)
{
    for (const GeometryCase& c : GeometryCases()) {
        const SkyPoint truth = Truth(c.hourAngleDeg, c.decDeg, c.site, c.errors);
        const double arcsec = kDeg / 3600.0;
        const double expectH = c.expectHourAngle + c.hourAngleDeg * kDeg;
        // Hour angle compared as a distance on the sky.
        EXPECT_NEAR(std::remainder(HourAngle(truth) - expectH, 2 * kPi) * std::cos(c.expectDec), 0.0,
                    0.01 * arcsec)
            << c.name << " at H " << c.hourAngleDeg << " Dec " << c.decDeg;
        EXPECT_NEAR(truth.decDegrees * kDeg, c.expectDec, 0.01 * arcsec)
            << c.name << " at H " << c.hourAngleDeg << " Dec " << c.decDeg;
    }
}

TEST(MountMechanics, ConeOnTheMeridianAtTheEquatorMovesRaByItsSize)
{
    MechanicalErrors errors;
    errors.coneArcmin = 8;
    const SkyPoint truth = TruePointing(kLst, 0.0, kLst, Site{}, errors);
    // 8' toward the west is 32 s of RA less.
    EXPECT_NEAR((kLst - truth.raHours) * 3600.0, 32.0, 1e-6);
    EXPECT_NEAR(truth.decDegrees, 0.0, 1e-9);
}

TEST(MountMechanics, NoErrorsIsExactlyTheAxesOwnPoint)
{
    struct Case {
        double ra, dec, expectRa, expectDec;
    };
    const std::vector<Case> cases = {
        {0.0, 0.0, 0.0, 0.0},         {5.123456789, 33.3, 5.123456789, 33.3},
        {23.9, -89.5, 23.9, -89.5},   {2.0, 95.0, 14.0, 85.0},
        {20.0, -100.0, 8.0, -80.0},   {-1.0, 10.0, 23.0, 10.0},
    };
    for (const Site& site : {Site{}, Site{-33.0, 151.0}}) {
        for (const Case& c : cases) {
            const SkyPoint truth = TruePointing(c.ra, c.dec, 3.7, site, MechanicalErrors{});
            EXPECT_DOUBLE_EQ(truth.raHours, c.expectRa) << c.ra << " " << c.dec;
            EXPECT_DOUBLE_EQ(truth.decDegrees, c.expectDec) << c.ra << " " << c.dec;
        }
    }
}

TEST(MountMechanics, VanishingErrorsApproachTheAxesOwnPoint)
{
    // The full geometry with errors far below an arcsecond lands on the
    // axes' own point: the frames of mount and sky agree.
    MechanicalErrors tiny;
    tiny.polarAzArcmin = tiny.polarAltArcmin = tiny.coneArcmin = tiny.nonPerpArcmin = tiny.flexureArcmin = 1e-9;
    for (double ra : {0.5, 6.0, 13.3, 21.9}) {
        for (double dec : {-70.0, -10.0, 0.0, 35.0, 88.0, 95.0}) {
            const SkyPoint want = AxisSkyPoint(ra, dec);
            const SkyPoint truth = TruePointing(ra, dec, 9.1, Site{}, tiny);
            EXPECT_NEAR(std::remainder(truth.raHours - want.raHours, 24.0) * 54000.0 * std::cos(want.decDegrees * kDeg),
                        0.0, 1e-4)
                << ra << " " << dec;
            EXPECT_NEAR(truth.decDegrees * 3600.0, want.decDegrees * 3600.0, 1e-4) << ra << " " << dec;
        }
    }
}

TEST(MountMechanics, SiderealTimeFollowsTheClockAndTheLongitude)
{
    // 2000-01-01 12:00 UTC: Greenwich mean sidereal time 18h 41m 50.5s.
    const double j2000 = 946728000.0;
    EXPECT_NEAR(LocalSiderealHours(j2000, 0.0) * 3600.0, 18 * 3600 + 41 * 60 + 50.5, 0.2);
    EXPECT_NEAR(LocalSiderealHours(j2000, 15.0) - LocalSiderealHours(j2000, 0.0), 1.0, 1e-9);
    // A solar day later the sky has turned 3m 56.6s further.
    EXPECT_NEAR((LocalSiderealHours(j2000 + 86400, 0.0) - LocalSiderealHours(j2000, 0.0)) * 3600.0, 236.555, 0.01);
    const double west = LocalSiderealHours(j2000, -170.0);
    EXPECT_GE(west, 0.0);
    EXPECT_LT(west, 24.0);
}

TEST(MountMechanics, FormatsToATenthOfASecondAndAnArcsecond)
{
    struct Case {
        SkyPoint point;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{0.0, 0.0}, "ra=00:00:00.0 dec=+00:00:00"},
        {{12.3456789, 45.678}, "ra=12:20:44.4 dec=+45:40:41"},
        {{5.5, -12.5}, "ra=05:30:00.0 dec=-12:30:00"},
        {{23.999999, -0.0001}, "ra=00:00:00.0 dec=+00:00:00"},
        {{1.0 + 59.96 / 3600, 89.99999}, "ra=01:01:00.0 dec=+90:00:00"},
        {{18.0, -90.0}, "ra=18:00:00.0 dec=-90:00:00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatSkyPoint(c.point), c.text);
}

}  // namespace
}  // namespace tavro::sim
