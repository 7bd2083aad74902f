#include "sky/apparent_place.h"

#include <erfa.h>
#include <erfam.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "mount/sidereal_time.h"

namespace tavro::sky {

namespace {

constexpr double kUnixEpochJd = 2440587.5;
constexpr double kSecondsPerDay = 86400.0;
// About 4700 years either side of 1970: the calendar routines take every
// date in between, and nothing an observer means lies outside.
constexpr double kLatestSeconds = 1.5e11;

constexpr double kHoursToRadians = ERFA_DPI / 12.0;

// The clock reading used for a time: a time that is not a number is read as
// 1970, one beyond the calendar's range as its nearest end.
double UsableSeconds(double unixSeconds)
{
    if (!std::isfinite(unixSeconds))
        return 0.0;
    return std::clamp(unixSeconds, -kLatestSeconds, kLatestSeconds);
}

// A moment as two-part Julian dates: UTC (also taken for UT1) and TT (also
// taken for TDB; the two differ by under two milliseconds).
struct Moment {
    double utc1 = 0.0, utc2 = 0.0;
    double tt1 = 0.0, tt2 = 0.0;
};

Moment MomentOf(double unixSeconds)
{
    const double seconds = UsableSeconds(unixSeconds);
    double days = std::floor(seconds / kSecondsPerDay);
    double secondOfDay = seconds - days * kSecondsPerDay;
    // The division may round across midnight.
    if (secondOfDay < 0.0) {
        days -= 1.0;
        secondOfDay += kSecondsPerDay;
    } else if (secondOfDay >= kSecondsPerDay) {
        days += 1.0;
        secondOfDay -= kSecondsPerDay;
    }

    Moment m;
    // Without a calendar date or leap-second count for the day, TT is taken
    // as UTC plus today's offset: the places stay the date's, within a minute
    // of time.
    m.utc1 = kUnixEpochJd + days;
    m.utc2 = secondOfDay / kSecondsPerDay;
    m.tt1 = m.utc1;
    m.tt2 = m.utc2 + (37.0 + 32.184) / kSecondsPerDay;

    int year = 0, month = 0, day = 0;
    double fraction = 0.0;
    if (eraJd2cal(kUnixEpochJd + days, 0.0, &year, &month, &day, &fraction) != 0)
        return m;
    const int hour = static_cast<int>(secondOfDay / 3600.0);
    const int minute = static_cast<int>((secondOfDay - hour * 3600.0) / 60.0);
    const double second = secondOfDay - hour * 3600.0 - minute * 60.0;
    double utc1 = 0.0, utc2 = 0.0, tai1 = 0.0, tai2 = 0.0;
    // Before 1960 the leap-second table has no count (TAI is taken as UTC,
    // some thirty seconds from the truth then) and far in the future it keeps
    // its last; both with a warning (status 1) and a sensible reading.
    if (eraDtf2d("UTC", year, month, day, hour, minute, second, &utc1, &utc2) < 0 ||
        eraUtctai(utc1, utc2, &tai1, &tai2) < 0)
        return m;
    m.utc1 = utc1;
    m.utc2 = utc2;
    eraTaitt(tai1, tai2, &m.tt1, &m.tt2);
    return m;
}

Equatorial FromRadians(double ra, double dec)
{
    double hours = eraAnp(ra) / kHoursToRadians;
    // eraAnp gives [0, 2pi); its top end may round up to 24 h itself.
    if (hours >= 24.0)
        hours = 0.0;
    return {hours, dec * ERFA_DR2D};
}

// The ERFA planet number of a body that is a planet.
int PlanetNumber(Body body)
{
    switch (body) {
    case Body::Mercury: return 1;
    case Body::Venus: return 2;
    case Body::Mars: return 4;
    case Body::Jupiter: return 5;
    case Body::Saturn: return 6;
    case Body::Uranus: return 7;
    case Body::Neptune: return 8;
    case Body::Sun:
    case Body::Moon: break;
    }
    return 0;
}

// What the conversions need of a moment, the same for every place and every
// observer: the celestial intermediate pole (x, y) and origin locator s, the
// Earth's heliocentric and barycentric position and velocity, the geocentric
// parameters (ICRS to the true equator of the date) and the equation of the
// origins, which takes a right ascension from the intermediate origin to the
// true equinox. Working them out (the nutation series above all) takes a
// hundred times as long as converting one place, and a list of places is
// converted for one moment: the last moment's are kept, one set for each
// thread.
struct DateFrame {
    double seconds = std::numeric_limits<double>::quiet_NaN();
    Moment moment;
    double x = 0.0, y = 0.0, s = 0.0;
    double earthHelio[2][3] = {};
    double earthBary[2][3] = {};
    eraASTROM astrom{};
    double eo = 0.0;
};

DateFrame& DateFrameAt(double unixSeconds)
{
    thread_local DateFrame frame;
    const double seconds = UsableSeconds(unixSeconds);
    if (frame.seconds != seconds) {
        const Moment m = MomentOf(seconds);
        frame.moment = m;
        // As eraApci13 does it, keeping the pieces for the observer at a site.
        double rnpb[3][3];
        eraPnm06a(m.tt1, m.tt2, rnpb);
        eraBpn2xy(rnpb, &frame.x, &frame.y);
        frame.s = eraS06(m.tt1, m.tt2, frame.x, frame.y);
        // Outside 1900-2100 the Earth's series warns (status 1) and still
        // gives its best value.
        eraEpv00(m.tt1, m.tt2, frame.earthHelio, frame.earthBary);
        eraApci(m.tt1, m.tt2, frame.earthBary, frame.earthHelio[0], frame.x, frame.y, frame.s,
                &frame.astrom);
        frame.eo = eraEors(rnpb, frame.s);
        frame.seconds = seconds;
    }
    return frame;
}

// A point's barycentric position (au) `days` before the moment, from its
// position and velocity at the moment: over the light time of a planet the
// Sun's and the Earth's paths are straight to far better than a
// milliarcsecond.
void Earlier(const double pv[2][3], double days, double position[3])
{
    for (int i = 0; i < 3; ++i)
        position[i] = pv[0][i] - days * pv[1][i];
}

// The body's barycentric position (au, ICRS axes) `lightDays` before the
// moment of `frame`, and the Sun's then.
void BarycentricPosition(Body body, DateFrame& frame, double lightDays, double position[3],
                         double sun[3])
{
    double sunPv[2][3];
    eraPvmpv(frame.earthBary, frame.earthHelio, sunPv);
    Earlier(sunPv, lightDays, sun);
    const double tdb1 = frame.moment.tt1;
    const double tdb2 = frame.moment.tt2 - lightDays;
    if (body == Body::Sun) {
        eraCp(sun, position);
    } else if (body == Body::Moon) {
        double earth[3], moon[2][3];
        Earlier(frame.earthBary, lightDays, earth);
        eraMoon98(tdb1, tdb2, moon);  // geocentric
        eraPpp(earth, moon[0], position);
    } else {
        // Heliocentric on the J2000 mean equator and equinox, which the ICRS
        // axes match to a few hundredths of an arcsecond.
        double planet[2][3];
        eraPlan94(tdb1, tdb2, PlanetNumber(body), planet);
        eraPpp(sun, planet[0], position);
    }
}

// The observer's parameters: geocentric, or at the site (its place on the
// turning Earth, and the Earth's rotation added to its motion).
eraASTROM ObserverAt(DateFrame& frame, const std::optional<Site>& site)
{
    if (!site)
        return frame.astrom;
    const Moment& m = frame.moment;
    eraASTROM astrom{};
    eraApco(m.tt1, m.tt2, frame.earthBary, frame.earthHelio[0], frame.x, frame.y, frame.s,
            eraEra00(m.utc1, m.utc2), site->longitudeDegrees * ERFA_DD2R,
            site->latitudeDegrees * ERFA_DD2R, site->heightMetres, 0.0, 0.0,
            eraSp00(m.tt1, m.tt2), 0.0, 0.0, &astrom);
    // ICRS to the true equator of the date, as for the geocentric observer.
    eraCr(frame.astrom.bpn, astrom.bpn);
    return astrom;
}

// The equation of the equinoxes (radians) at a moment, kept likewise.
double EquationOfTheEquinoxes(double seconds)
{
    thread_local double kept = std::numeric_limits<double>::quiet_NaN();
    thread_local double value = 0.0;
    if (kept != seconds) {
        const Moment m = MomentOf(seconds);
        value = eraEe06a(m.tt1, m.tt2);
        kept = seconds;
    }
    return value;
}

}  // namespace

Equatorial ApparentPlace(const CataloguePlace& place, double unixSeconds)
{
    DateFrame& frame = DateFrameAt(unixSeconds);

    const double ra = place.raHours * kHoursToRadians;
    const double dec = place.decDegrees * ERFA_DD2R;
    // The catalogue gives the RA motion as a great-circle rate; ERFA takes
    // the rate of RA itself. At the poles there is no RA motion to speak of.
    const double cosDec = std::cos(dec);
    const double pmRa =
        std::abs(cosDec) > 1e-9 ? place.pmRaMasPerYear * ERFA_DMAS2R / cosDec : 0.0;
    const double pmDec = place.pmDecMasPerYear * ERFA_DMAS2R;
    const double parallaxArcsec = place.parallaxMas / 1000.0;

    double ri = 0.0, di = 0.0;
    eraAtciq(ra, dec, pmRa, pmDec, parallaxArcsec, 0.0, &frame.astrom, &ri, &di);
    return FromRadians(ri - frame.eo, di);
}

Equatorial J2000FromApparent(const Equatorial& apparent, double unixSeconds)
{
    DateFrame& frame = DateFrameAt(unixSeconds);
    double rc = 0.0, dc = 0.0;
    eraAticq(apparent.raHours * kHoursToRadians + frame.eo, apparent.decDegrees * ERFA_DD2R,
             &frame.astrom, &rc, &dc);
    return FromRadians(rc, dc);
}

Equatorial ApparentPlaceOf(Body body, double unixSeconds, const std::optional<Site>& site)
{
    DateFrame& frame = DateFrameAt(unixSeconds);
    eraASTROM astrom = ObserverAt(frame, site);

    // Where the body was when the light now arriving left it: the light
    // time, found again from each better distance.
    double position[3], sun[3], toBody[3];
    double lightDays = 0.0;
    for (int i = 0; i < 4; ++i) {
        BarycentricPosition(body, frame, lightDays, position, sun);
        eraPmp(position, astrom.eb, toBody);
        const double next = eraPm(toBody) * ERFA_AULT / ERFA_DAYSEC;
        // A microsecond: the Moon, the fastest, moves a millionth of an
        // arcsecond in it.
        const bool settled = std::abs(next - lightDays) < 1e-6 / ERFA_DAYSEC;
        lightDays = next;
        if (settled)
            break;
    }
    double distance = 0.0, direction[3];
    eraPn(toBody, &distance, direction);
    if (body != Body::Sun) {
        // The Sun's bending of the light on its way.
        double fromSun[3], fromSunUnit[3], sunDistance = 0.0;
        eraPmp(position, sun, fromSun);
        eraPn(fromSun, &sunDistance, fromSunUnit);
        double bent[3];
        eraLd(1.0, direction, fromSunUnit, astrom.eh, astrom.em, 1e-6, bent);
        eraCp(bent, direction);
    }
    // The observer's motion (aberration), then the equator of the date.
    double aberrated[3], cirs[3];
    eraAb(direction, astrom.v, astrom.em, astrom.bm1, aberrated);
    eraRxp(astrom.bpn, aberrated, cirs);
    double ri = 0.0, di = 0.0;
    eraC2s(cirs, &ri, &di);
    return FromRadians(ri - frame.eo, di);
}

Equatorial ApparentPlaceOf(const SkyObject& object, double unixSeconds,
                           const std::optional<Site>& site)
{
    if (object.body)
        return ApparentPlaceOf(*object.body, unixSeconds, site);
    return ApparentPlace(object.place, unixSeconds);
}

double LocalApparentSiderealTime(double unixSeconds, double longitudeDegrees)
{
    const double seconds = UsableSeconds(unixSeconds);
    // The mean sidereal time plus the equation of the equinoxes.
    double hours = LocalSiderealTime(seconds, longitudeDegrees) +
                   EquationOfTheEquinoxes(seconds) / kHoursToRadians;
    hours = std::fmod(hours, 24.0);
    if (hours < 0.0)
        hours += 24.0;
    if (hours >= 24.0)
        hours = 0.0;
    return hours;
}

Horizontal ToHorizontal(const Equatorial& apparent, double unixSeconds, const Site& site)
{
    const double hourAngle =
        (LocalApparentSiderealTime(unixSeconds, site.longitudeDegrees) - apparent.raHours) *
        kHoursToRadians;
    double azimuth = 0.0, altitude = 0.0;
    eraHd2ae(hourAngle, apparent.decDegrees * ERFA_DD2R, site.latitudeDegrees * ERFA_DD2R,
             &azimuth, &altitude);
    double degrees = azimuth * ERFA_DR2D;
    // Just west of north rounds up to a full circle: that is north.
    if (degrees >= 360.0)
        degrees = 0.0;
    return {altitude * ERFA_DR2D, degrees};
}

double SeparationDegrees(const Equatorial& a, const Equatorial& b)
{
    return eraSeps(a.raHours * kHoursToRadians, a.decDegrees * ERFA_DD2R,
                   b.raHours * kHoursToRadians, b.decDegrees * ERFA_DD2R) *
           ERFA_DR2D;
}

}  // namespace tavro::sky
