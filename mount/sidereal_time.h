#pragma once
// The local sidereal time, for hour angles: the hour angle of a point is
// the local sidereal time less its RA.

namespace tavro {

// The local mean sidereal time in hours [0, 24) at `unixSeconds`
// (UTC, taken for UT1: the second between them is far below what a hand
// controller points to) and `longitudeDegrees` (east positive), from ERFA's
// Greenwich mean sidereal time (IAU 2006).
double LocalSiderealTime(double unixSeconds, double longitudeDegrees);

}  // namespace tavro
