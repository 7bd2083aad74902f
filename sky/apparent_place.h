#pragma once
// Places of the date: where an object stands on the sky at a given moment,
// as the mount and the INDI clients' "JNow" mean it — RA and Dec on the true
// equator and equinox of the date, with precession, nutation and the annual
// aberration of light (and the Sun's light bending). Catalogue places come in
// at J2000 (ICRS) with their proper motion and parallax; the Sun, the Moon and
// the planets are worked out for the date from ERFA's ephemerides, with light
// time, and seen from the observer's site when it is known (the Moon's
// parallax reaches one degree).
//
// Times are UTC in seconds since 1970, fractional allowed; UT1 is taken as
// UTC (the second between them is far below what a hand controller points
// to). A time outside the range the time scales know (before 1960, far in the
// future, not a number) still gives finite places: the nearest sensible
// reading of the clock is used.

#include <optional>

#include "sky/sky_object.h"

namespace tavro::sky {

// A catalogue place (J2000, proper motion applied) as the apparent place of
// the date: RA/Dec on the true equator and equinox of the date, with
// precession, nutation and annual aberration (geocentric).
Equatorial ApparentPlace(const CataloguePlace& place, double unixSeconds);

// The inverse: an apparent place of the date back to J2000 (no proper
// motion).
Equatorial J2000FromApparent(const Equatorial& apparent, double unixSeconds);

// The Sun, Moon or a planet, apparent of the date with light time;
// topocentric when `site` is given (the Moon's parallax reaches 1 degree),
// geocentric otherwise.
Equatorial ApparentPlaceOf(Body body, double unixSeconds, const std::optional<Site>& site);

// Any object: the catalogue place or the body's.
Equatorial ApparentPlaceOf(const SkyObject& object, double unixSeconds,
                           const std::optional<Site>& site);

// Altitude (no refraction) and azimuth (from north through east) of an
// apparent place at the site.
Horizontal ToHorizontal(const Equatorial& apparent, double unixSeconds, const Site& site);

// The angle between two places, degrees.
double SeparationDegrees(const Equatorial& a, const Equatorial& b);

// The local apparent sidereal time at the site's longitude (east positive),
// hours [0, 24): the hour angle of an apparent place is this less its RA.
double LocalApparentSiderealTime(double unixSeconds, double longitudeDegrees);

}  // namespace tavro::sky
