#include "tools/boardsim/mount_mechanics.h"

#include <erfa.h>
#include <erfam.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tavro::sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;
constexpr double kArcmin = kDegree / 60.0;
constexpr double kHour = 15.0 * kDegree;

}  // namespace

double WrapHours(double hours)
{
    double wrapped = std::fmod(hours, 24.0);
    if (wrapped < 0.0)
        wrapped += 24.0;
    // A tiny negative RA wraps to 24 - epsilon, which rounds to 24 itself.
    if (wrapped >= 24.0)
        wrapped = 0.0;
    return wrapped;
}

double LocalSiderealHours(double unixSeconds, double longitudeDegrees)
{
    // The date as a two-part Julian date (day number, fraction), UTC; UT1
    // is taken as UTC, a second at most off.
    constexpr double kUnixEpochJd = 2440587.5;
    const double days = std::floor(unixSeconds / 86400.0);
    const double utc1 = kUnixEpochJd + days;
    const double utc2 = (unixSeconds - days * 86400.0) / 86400.0;
    // TT only picks the precession's epoch: for a date ERFA knows no leap
    // seconds for, today's offset is close enough.
    double tai1 = 0, tai2 = 0, tt1 = utc1, tt2 = utc2 + 69.184 / 86400.0;
    if (eraUtctai(utc1, utc2, &tai1, &tai2) >= 0)
        eraTaitt(tai1, tai2, &tt1, &tt2);
    const double gmst = eraGmst06(utc1, utc2, tt1, tt2);
    return WrapHours(eraAnp(gmst + longitudeDegrees * ERFA_DD2R) * ERFA_DR2D / 15.0);
}

SkyPoint AxisSkyPoint(double axisRaHours, double axisDecDegrees)
{
    double dec = std::remainder(axisDecDegrees, 360.0);  // -180..180
    double ra = axisRaHours;
    if (dec > 90.0) {
        dec = 180.0 - dec;
        ra += 12.0;
    } else if (dec < -90.0) {
        dec = -180.0 - dec;
        ra += 12.0;
    }
    return {WrapHours(ra), dec};
}

SkyPoint TruePointing(double axisRaHours, double axisDecDegrees, double lstHours, const Site& site,
                      const MechanicalErrors& errors)
{
    // A mount built without fault points exactly where its axes do.
    if (errors.None())
        return AxisSkyPoint(axisRaHours, axisDecDegrees);

    // Directions are unit vectors in a frame whose x points at the celestial
    // equator on the meridian, y at the east point of the horizon and z at
    // the north celestial pole: hour angle H and declination d lie at
    // (cos d cos H, -cos d sin H, sin d).
    using Eigen::AngleAxisd;
    using Eigen::Vector3d;
    const double hourAngle = (lstHours - axisRaHours) * kHour;
    const double dec = axisDecDegrees * kDegree;

    // In the mount's own frame (its polar axis as z): the tube, square to
    // the Dec axis but for the cone, turns with the Dec axis (about y), the
    // Dec axis leans out of square with the polar axis about the tube's
    // position at the equator (x), and the whole turns with the RA axis
    // (about z; a larger hour angle is a turn toward the west).
    const Vector3d tube = AngleAxisd(-hourAngle, Vector3d::UnitZ()) *
                          AngleAxisd(errors.nonPerpArcmin * kArcmin, Vector3d::UnitX()) *
                          AngleAxisd(-dec, Vector3d::UnitY()) *
                          AngleAxisd(-errors.coneArcmin * kArcmin, Vector3d::UnitZ()) * Vector3d::UnitX();

    // The mount's frame in the sky's: the polar axis is raised or lowered
    // about the east-west line, then the base is turned about the vertical.
    // On a southern site the elevated pole is the south pole, so the same
    // error turns the other way.
    const double hemisphere = site.latitudeDegrees < 0.0 ? -1.0 : 1.0;
    const double latitude = site.latitudeDegrees * kDegree;
    const Vector3d zenith(std::cos(latitude), 0.0, std::sin(latitude));
    const Vector3d east = Vector3d::UnitY();
    const Eigen::Matrix3d mountToSky =
        (AngleAxisd(-hemisphere * errors.polarAzArcmin * kArcmin, zenith) *
         AngleAxisd(hemisphere * errors.polarAltArcmin * kArcmin, east))
            .toRotationMatrix();
    Vector3d sky = mountToSky * tube;

    // The tube sags in the vertical plane through it, away from the zenith,
    // by the flexure times the sine of its zenith distance.
    if (errors.flexureArcmin != 0.0) {
        const Vector3d across = zenith.cross(sky);
        const double sinZenithDistance = across.norm();
        if (sinZenithDistance > 1e-12) {
            sky = AngleAxisd(errors.flexureArcmin * kArcmin * sinZenithDistance, across / sinZenithDistance) *
                  sky;
        }
    }

    sky.normalize();
    const double trueDec = std::asin(std::clamp(sky.z(), -1.0, 1.0));
    const double trueHourAngle = std::atan2(-sky.y(), sky.x());
    return {WrapHours(lstHours - trueHourAngle / kHour), trueDec / kDegree};
}

std::string FormatSkyPoint(const SkyPoint& point)
{
    constexpr long long kTenthsPerDay = 24LL * 36000;
    long long tenths = std::llround(point.raHours * 36000.0) % kTenthsPerDay;
    if (tenths < 0)
        tenths += kTenthsPerDay;
    const long long arcsec = std::llround(std::fabs(point.decDegrees) * 3600.0);
    const char sign = point.decDegrees < 0.0 && arcsec > 0 ? '-' : '+';
    char text[64];
    std::snprintf(text, sizeof text, "ra=%02lld:%02lld:%02lld.%lld dec=%c%02lld:%02lld:%02lld", tenths / 36000,
                  tenths / 600 % 60, tenths / 10 % 60, tenths % 10, sign, arcsec / 3600, arcsec / 60 % 60,
                  arcsec % 60);
    return text;
}

}  // namespace tavro::sim
