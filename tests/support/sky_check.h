#pragma once
// Where the telescope truly points, as the alignment tests check it: places
// on the sky chosen by hour angle at the test site, their altitude, the
// angle between two positions and the simulator's "pointing" trace line.
// Plain spherical trigonometry, independent of the program's pointing model.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <time.h>

#include "mount/sidereal_time.h"

namespace tavro::test::sky {

inline constexpr double kLatitude = 48.1;
inline constexpr double kLongitude = 11.6;  // east
inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kRad = kPi / 180.0;

struct Sky {
    double ra = 0.0;   // hours
    double dec = 0.0;  // degrees
};

// A place on the sky by its hour angle (hours, west positive) and Dec; the
// RA is taken when the point is used, so that it stands where it was
// chosen above the horizon however long the run has taken until then.
struct Place {
    double ha;
    double dec;
};

inline double UnixNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

inline double Wrap24(double hours)
{
    hours = std::fmod(hours, 24.0);
    return hours < 0 ? hours + 24.0 : hours;
}

inline Sky SkyNow(const Place& p)
{
    return {Wrap24(tavro::LocalSiderealTime(UnixNow(), kLongitude) - p.ha), p.dec};
}

inline double AltitudeDegrees(const Sky& p)
{
    const double ha = (tavro::LocalSiderealTime(UnixNow(), kLongitude) - p.ra) * 15.0 * kRad;
    const double s = std::sin(kLatitude * kRad) * std::sin(p.dec * kRad) +
                     std::cos(kLatitude * kRad) * std::cos(p.dec * kRad) * std::cos(ha);
    return std::asin(std::clamp(s, -1.0, 1.0)) / kRad;
}

inline double SeparationArcmin(const Sky& a, const Sky& b)
{
    const double dra = (a.ra - b.ra) * 15.0 * kRad;
    const double d1 = a.dec * kRad, d2 = b.dec * kRad;
    // Vincenty's formula: exact for small and large separations alike.
    const double x = std::sin(d1) * std::sin(d2) + std::cos(d1) * std::cos(d2) * std::cos(dra);
    const double y = std::hypot(std::cos(d2) * std::sin(dra),
                                std::cos(d1) * std::sin(d2) - std::sin(d1) * std::cos(d2) * std::cos(dra));
    return std::atan2(y, x) / kRad * 60.0;
}

// "pointing ra=HH:MM:SS.s dec=+DD:MM:SS"; false when the line is not one.
inline bool ParsePointing(const std::string& line, Sky* sky)
{
    int rh = 0, rm = 0, dd = 0, dm = 0, ds = 0;
    double rs = 0.0;
    char sign = '+';
    if (std::sscanf(line.c_str(), "pointing ra=%d:%d:%lf dec=%c%d:%d:%d", &rh, &rm, &rs, &sign, &dd, &dm, &ds) != 7)
        return false;
    sky->ra = rh + rm / 60.0 + rs / 3600.0;
    sky->dec = (sign == '-' ? -1.0 : 1.0) * (dd + dm / 60.0 + ds / 3600.0);
    return true;
}

}  // namespace tavro::test::sky
