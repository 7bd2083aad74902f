// The places of the date in what an independent ephemeris cannot judge: the
// way back to J2000, the horizon at known geometry, and times no clock
// should give. (The places themselves are checked against an independent
// ephemeris by check_places.py.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "sky/apparent_place.h"

using namespace tavro::sky;

namespace {

constexpr double kArcsec = 1.0 / 3600.0;
constexpr double kJan2026 = 1768435200.0;  // 2026-01-15 00:00:00 UTC

const Site kMunich{48.137, 11.575, 520.0};
const Site kSydney{-33.868, 151.209, 40.0};

// How far apart two azimuths are, degrees, the short way round.
double AzimuthGap(double a, double b)
{
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// The angle between two places in arcseconds.
double Arcsec(const Equatorial& a, const Equatorial& b)
{
    return SeparationDegrees(a, b) * 3600.0;
}

TEST(ApparentPlace, BackToJ2000WithinAHundredthOfAnArcsecond)
{
    const std::vector<Equatorial> places = {
        {6.752477, -16.716116},  // Sirius
        {0.0, 0.0},
        {23.9999, 10.0},          // moves across 0 h by the date
        {2.530301, 89.264109},    // Polaris
        {12.0, 89.99},            // by the pole
        {21.146346, -88.956499},  // Sigma Oct
        {18.615649, 38.783689},
    };
    const double dates[] = {645422400.0, 946728000.0, kJan2026, 2556079200.0,
                            -631152000.0 /* 1950 */, 7.0e9 /* 2191 */};
    for (const double t : dates) {
        for (const Equatorial& p : places) {
            const Equatorial apparent = ApparentPlace({p.raHours, p.decDegrees, 0, 0, 0}, t);
            // The date's place really differs (precession alone is over 10"
            // in the nearest of these years).
            EXPECT_GT(Arcsec(apparent, p), 10.0) << p.raHours << " " << t;
            const Equatorial back = J2000FromApparent(apparent, t);
            EXPECT_LT(Arcsec(back, p), 0.01) << p.raHours << " " << p.decDegrees << " " << t;
            EXPECT_GE(back.raHours, 0.0);
            EXPECT_LT(back.raHours, 24.0);
        }
    }
}

TEST(ApparentPlace, ProperMotionCarriesTheStarAlong)
{
    // Barnard's star moves 10.3" a year north: fifty years on, its place of
    // the date is some 8.6' from where it would be without its motion (the
    // rest of the conversion being the same for both).
    const CataloguePlace barnard{17.963472, 4.693391, -798.58, 10328.12, 548.31};
    const CataloguePlace fixed{17.963472, 4.693391, 0.0, 0.0, 0.0};
    const double in2050 = 2524608000.0;  // 2050-01-01
    const Equatorial moving = ApparentPlace(barnard, in2050);
    const Equatorial still = ApparentPlace(fixed, in2050);
    EXPECT_NEAR(moving.decDegrees - still.decDegrees, 50.0 * 10.32812 * kArcsec, 2.0 * kArcsec);
    EXPECT_NEAR(Arcsec(moving, still), 50.0 * std::hypot(0.79858, 10.32812), 2.0);
    // At J2000 itself the motion has carried it nowhere yet.
    EXPECT_LT(Arcsec(ApparentPlace(barnard, 946728000.0), ApparentPlace(fixed, 946728000.0)),
              1.0);
}

TEST(ApparentPlace, TheCelestialPoleStandsAtTheLatitude)
{
    for (const Site& site : {kMunich, kSydney, Site{0.0, -78.0, 0.0}, Site{89.5, 0.0, 0.0}}) {
        for (const double ra : {0.0, 7.3, 18.9}) {
            const Horizontal north = ToHorizontal({ra, 90.0}, kJan2026, site);
            EXPECT_NEAR(north.altitudeDegrees, site.latitudeDegrees, 1e-9);
            const Horizontal south = ToHorizontal({ra, -90.0}, kJan2026, site);
            EXPECT_NEAR(south.altitudeDegrees, -site.latitudeDegrees, 1e-9);
            EXPECT_LT(north.azimuthDegrees, 360.0);
            if (site.latitudeDegrees > 1.0) {
                EXPECT_LT(AzimuthGap(north.azimuthDegrees, 0.0), 1e-6);
            }
            if (site.latitudeDegrees < -1.0) {
                EXPECT_LT(AzimuthGap(south.azimuthDegrees, 180.0), 1e-6);
            }
        }
    }
}

TEST(ApparentPlace, APlaceOnTheMeridianAndOnTheHorizon)
{
    const struct {
        Site site;
        double dec;
        double altitude;
        double azimuth;
    } cases[] = {
        {kMunich, 0.0, 90.0 - 48.137, 180.0},     // the equator, due south
        {kMunich, 60.0, 90.0 - 11.863, 0.0},      // north of the zenith
        {kMunich, 48.137, 90.0, -1.0},            // the zenith (no azimuth)
        {kSydney, -60.0, 90.0 - 26.132, 180.0},
        {kSydney, 10.0, 90.0 - 43.868, 0.0},      // due north from the south
    };
    const double times[] = {kJan2026, 946728000.0, 2161881000.5};
    for (const auto& k : cases) {
        for (const double t : times) {
            const double lst = LocalApparentSiderealTime(t, k.site.longitudeDegrees);
            const Horizontal h = ToHorizontal({lst, k.dec}, t, k.site);
            EXPECT_NEAR(h.altitudeDegrees, k.altitude, 1e-7) << k.dec << " " << t;
            if (k.azimuth >= 0.0) {
                EXPECT_LT(AzimuthGap(h.azimuthDegrees, k.azimuth), 1e-6) << k.dec << " " << t;
            }
            // Six hours east of the meridian the equator meets the horizon
            // due east, six hours west due west.
            const Horizontal rising = ToHorizontal({std::fmod(lst + 6.0, 24.0), 0.0}, t, k.site);
            EXPECT_NEAR(rising.altitudeDegrees, 0.0, 1e-7);
            EXPECT_NEAR(rising.azimuthDegrees, 90.0, 1e-6);
            const Horizontal setting =
                ToHorizontal({std::fmod(lst + 18.0, 24.0), 0.0}, t, k.site);
            EXPECT_NEAR(setting.azimuthDegrees, 270.0, 1e-6);
        }
    }
}

TEST(ApparentPlace, Separations)
{
    const struct {
        Equatorial a, b;
        double degrees;
    } cases[] = {
        {{0.0, 0.0}, {12.0, 0.0}, 180.0},
        {{3.0, 90.0}, {17.0, 0.0}, 90.0},
        {{23.99, 0.0}, {0.01, 0.0}, 0.3},        // across 0 h
        {{5.0, 60.0}, {5.0 + 1.0 / 60.0, 60.0}, 0.125},  // 15' of RA at 60 degrees, nearly
        {{10.0, -20.0}, {10.0, -20.0}, 0.0},
    };
    for (const auto& k : cases)
        EXPECT_NEAR(SeparationDegrees(k.a, k.b), k.degrees, 1e-4) << k.a.raHours;
}

TEST(ApparentPlace, TheMoonFromASiteIsShiftedByItsParallax)
{
    SkyObject moon;
    moon.body = Body::Moon;
    const Equatorial seen = ApparentPlaceOf(moon, kJan2026, kMunich);
    const Equatorial centre = ApparentPlaceOf(moon, kJan2026, std::nullopt);
    // From Munich the Moon stands lower than from the Earth's centre by up
    // to its parallax (about 57'); its altitude here is -43 degrees.
    const double shift = SeparationDegrees(seen, centre);
    EXPECT_GT(shift, 0.5);
    EXPECT_LT(shift, 1.05);
    EXPECT_LT(ToHorizontal(seen, kJan2026, kMunich).altitudeDegrees,
              ToHorizontal(centre, kJan2026, kMunich).altitudeDegrees);
}

bool Sound(const Equatorial& p)
{
    return std::isfinite(p.raHours) && std::isfinite(p.decDegrees) && p.raHours >= 0.0 &&
           p.raHours < 24.0 && std::abs(p.decDegrees) <= 90.0;
}

TEST(ApparentPlace, TimesNoClockShouldGiveStillGiveFinitePlaces)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double times[] = {nan, inf, -inf, 1e300, -1e300, -5e9 /* 1811 */, -3e11, 3e11,
                            3.2e10 /* 2984 */, -0.5};
    const Body bodies[] = {Body::Sun, Body::Moon, Body::Mercury, Body::Venus, Body::Mars,
                           Body::Jupiter, Body::Saturn, Body::Uranus, Body::Neptune};
    const CataloguePlace star{6.752477, -16.716116, -546.01, -1223.07, 379.21};
    for (const double t : times) {
        EXPECT_TRUE(Sound(ApparentPlace(star, t))) << t;
        EXPECT_TRUE(Sound(J2000FromApparent({23.5, -80.0}, t))) << t;
        for (const Body body : bodies) {
            EXPECT_TRUE(Sound(ApparentPlaceOf(body, t, std::nullopt))) << t;
            const Equatorial p = ApparentPlaceOf(body, t, kSydney);
            EXPECT_TRUE(Sound(p)) << t;
            const Horizontal h = ToHorizontal(p, t, kSydney);
            EXPECT_TRUE(std::isfinite(h.altitudeDegrees) && std::isfinite(h.azimuthDegrees)) << t;
        }
        const double lst = LocalApparentSiderealTime(t, 11.5);
        EXPECT_TRUE(lst >= 0.0 && lst < 24.0) << t;
    }
    // A time that is not a number is read as 1970.
    EXPECT_EQ(ApparentPlace(star, nan).raHours, ApparentPlace(star, 0.0).raHours);
}

TEST(ApparentPlace, NoJumpWhereTheLeapSecondTableBegins)
{
    // 1960-01-01 00:00 UTC: before it the time scales have no leap-second
    // count. A minute either side, the places differ by the minute's motion.
    const double start1960 = -315619200.0;
    const CataloguePlace sirius{6.752477, -16.716116, -546.01, -1223.07, 379.21};
    EXPECT_LT(Arcsec(ApparentPlace(sirius, start1960 - 60.0), ApparentPlace(sirius, start1960 + 60.0)),
              0.01);
    // The Moon moves about 0.5" a second: 120 s is about a minute of arc.
    const double moonStep = Arcsec(ApparentPlaceOf(Body::Moon, start1960 - 60.0, std::nullopt),
                                   ApparentPlaceOf(Body::Moon, start1960 + 60.0, std::nullopt));
    EXPECT_GT(moonStep, 30.0);
    EXPECT_LT(moonStep, 100.0);
}

}  // namespace
