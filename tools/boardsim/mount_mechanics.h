#pragma once
// Where a real German equatorial mount truly points, given where its axes
// stand and how it is built wrong: a polar axis off the celestial pole in
// azimuth and elevation, a Dec axis not square to the polar axis, a tube not
// square to the Dec axis (cone), and a tube that sags toward the horizon.
// Pure functions: no clock, no state.
//
// Axis angles are as the mount's open-loop reckoning keeps them: the RA axis
// as an RA in hours (the hour angle is the local sidereal time minus it) and
// the Dec axis as a declination in degrees, which runs on past +-90 when the
// Dec axis turns over a pole. Sky points are RA in hours [0, 24) and Dec in
// degrees [-90, 90], of the date.

#include <string>

namespace tavro::sim {

struct MechanicalErrors {
    // The polar axis' error: positive azimuth puts it east of the elevated
    // celestial pole, positive altitude above it. Minutes of arc.
    double polarAzArcmin = 0.0;
    double polarAltArcmin = 0.0;
    // The tube's tilt out of square with the Dec axis; positive points the
    // tube to a larger hour angle. Minutes of arc.
    double coneArcmin = 0.0;
    // The Dec axis' tilt out of square with the polar axis; positive moves
    // the tube to a larger hour angle north of the equator. Minutes of arc.
    double nonPerpArcmin = 0.0;
    // The tube sags toward the horizon by this much times the sine of its
    // zenith distance. Minutes of arc.
    double flexureArcmin = 0.0;

    bool None() const
    {
        return polarAzArcmin == 0.0 && polarAltArcmin == 0.0 && coneArcmin == 0.0 && nonPerpArcmin == 0.0 &&
               flexureArcmin == 0.0;
    }
};

struct Site {
    double latitudeDegrees = 48.0;   // north positive
    double longitudeDegrees = 11.0;  // east positive
};

struct SkyPoint {
    double raHours = 0.0;
    double decDegrees = 0.0;
};

// The local sidereal time in hours [0, 24) at a UTC instant given as
// seconds since 1970 (Greenwich mean sidereal time plus the longitude).
double LocalSiderealHours(double unixSeconds, double longitudeDegrees);

// RA wrapped into [0, 24) hours.
double WrapHours(double hours);

// The sky point the tube truly points at with the axes at `axisRaHours` /
// `axisDecDegrees` at local sidereal time `lstHours`. With no errors it is
// exactly the axes' own point (RA wrapped, a Dec past a pole folded back
// with the RA turned by 12 h).
SkyPoint TruePointing(double axisRaHours, double axisDecDegrees, double lstHours, const Site& site,
                      const MechanicalErrors& errors);

// The axes' own point as a sky point: RA wrapped into [0, 24), a Dec past a
// pole folded back with the RA turned by 12 h.
SkyPoint AxisSkyPoint(double axisRaHours, double axisDecDegrees);

// "ra=HH:MM:SS.s dec=+DD:MM:SS", rounded to 0.1 s of RA and 1" of Dec.
std::string FormatSkyPoint(const SkyPoint& point);

}  // namespace tavro::sim
