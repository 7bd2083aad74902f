#include "mount/pointing.h"

#include <cmath>

namespace tavro {

namespace {

// Arcseconds in one hour of RA and in one degree.
constexpr double kArcsecPerHour = 15.0 * 3600.0;
constexpr double kArcsecPerDegree = 3600.0;

// The window's speed buttons: "2.5x" / "10x" on an EQ-5, "4x" / "8x" on an
// EQ-4.
constexpr double kSlowEQ5 = 2.5;
constexpr double kFastEQ5 = 10.0;
constexpr double kSlowEQ4 = 4.0;
constexpr double kFastEQ4 = 8.0;

// Progress in tenths of a percent, as the window's bars count it.
constexpr uint64_t kProgressSteps = 1000;

bool IsRaDirection(MoveDirection direction)
{
    return direction == MoveDirection::RaPlus || direction == MoveDirection::RaMinus;
}

}  // namespace

MountSpeeds SpeedsOf(const CMountController& controller)
{
    MountSpeeds speeds;
    const bool eq5 = controller.Settings().Eq5();
    speeds.slow = eq5 ? kSlowEQ5 : kSlowEQ4;
    speeds.fast = eq5 ? kFastEQ5 : kFastEQ4;
    // The planner's travel time for one hour of RA and one degree of Dec.
    const double raSeconds = controller.RaTravelTime(1.0);
    const double decSeconds = controller.DecTravelTime(1.0);
    if (raSeconds > 0)
        speeds.gotoRa = kArcsecPerHour / raSeconds / kSiderealArcsecPerSecond;
    if (decSeconds > 0)
        speeds.gotoDec = kArcsecPerDegree / decSeconds / kSiderealArcsecPerSecond;
    return speeds;
}

double SlewRate(const MountSpeeds& speeds, MoveSpeed speed, MoveDirection direction)
{
    switch (speed) {
    case MoveSpeed::Slow: return speeds.slow;
    case MoveSpeed::Fast: return speeds.fast;
    case MoveSpeed::Goto: return IsRaDirection(direction) ? speeds.gotoRa : speeds.gotoDec;
    }
    return 0.0;
}

double WrapRa(double hours)
{
    // An RA in range is kept as it is: a client gets back exactly the
    // target it sent.
    if (hours >= 0.0 && hours < 24.0)
        return hours;
    double wrapped = WrapHours(hours);
    // A tiny negative RA wraps to 24 - epsilon, which rounds to 24 itself.
    if (wrapped >= 24.0)
        wrapped = 0.0;
    return wrapped;
}

double GotoFraction(uint32_t now, uint32_t startTick, int travelSeconds)
{
    // 32-bit differences from the start, as the progress bars take them, so
    // a wrap of the tick counter does no harm.
    const uint32_t total = travelSeconds > 0 ? static_cast<uint32_t>(travelSeconds) * 1000u : 0u;
    const uint32_t elapsed = now - startTick;
    if (elapsed >= total)
        return 1.0;
    const uint64_t steps = static_cast<uint64_t>(elapsed) * kProgressSteps / total;
    return static_cast<double>(steps) / static_cast<double>(kProgressSteps);
}

SkyPoint GotoPointAt(const GotoCourse& course, uint32_t now)
{
    const double raFraction = GotoFraction(now, course.startTick, course.raSeconds);
    const double decFraction = GotoFraction(now, course.startTick, course.decSeconds);
    SkyPoint point;
    if (raFraction >= 1.0) {
        point.ra = WrapRa(course.target.ra);
    } else {
        double delta = WrapHours(course.target.ra - course.start.ra);
        if (delta > 12)
            delta -= 24;
        point.ra = WrapRa(course.start.ra + delta * raFraction);
    }
    point.dec = decFraction >= 1.0
                    ? course.target.dec
                    : course.start.dec + (course.target.dec - course.start.dec) * decFraction;
    return point;
}

SkyPoint SlewPointAt(const SkyPoint& start, MoveDirection direction, double rate, uint32_t elapsedMs)
{
    const double arcsec = rate * kSiderealArcsecPerSecond * (static_cast<double>(elapsedMs) / 1000.0);
    SkyPoint point = start;
    switch (direction) {
    case MoveDirection::RaPlus: point.ra = WrapRa(start.ra + arcsec / kArcsecPerHour); break;
    case MoveDirection::RaMinus: point.ra = WrapRa(start.ra - arcsec / kArcsecPerHour); break;
    case MoveDirection::DecPlus:
    case MoveDirection::DecMinus: {
        // The Dec axis turns on past a pole: beyond +90 the mount looks down
        // the other side of the meridian, at Dec 180 - d and RA + 12 h.
        double dec = start.dec + (direction == MoveDirection::DecPlus ? 1 : -1) * arcsec / kArcsecPerDegree;
        dec = std::remainder(dec, 360.0);  // -180..180
        bool flipped = false;
        if (dec > 90) {
            dec = 180 - dec;
            flipped = true;
        } else if (dec < -90) {
            dec = -180 - dec;
            flipped = true;
        }
        point.dec = dec;
        if (flipped)
            point.ra = WrapRa(start.ra + 12);
        break;
    }
    }
    return point;
}

SkyPoint DriftPointAt(const SkyPoint& start, uint32_t elapsedMs)
{
    const double hours = static_cast<double>(elapsedMs) / 3600000.0 * kSiderealPerSolar;
    return {WrapRa(start.ra + hours), start.dec};
}

SkyPoint PointingEstimate::At(uint32_t now) const
{
    if (m_gotoRunning)
        return GotoPointAt(m_course, now);
    if (m_slewing)
        return SlewPointAt(m_point, m_slewDirection, m_slewRate, now - m_slewStart);
    if (!m_tracking)
        return DriftPointAt(m_point, now - m_driftStart);
    return m_point;
}

void PointingEstimate::Sync(const SkyPoint& point, uint32_t now)
{
    if (m_gotoRunning)
        return;
    m_point = {WrapRa(point.ra), point.dec};
    if (m_slewing)
        m_slewStart = now;
    m_driftStart = now;
}

void PointingEstimate::StopTracking(uint32_t now)
{
    StopSlew(now);
    if (m_gotoRunning || !m_tracking)
        return;
    m_tracking = false;
    m_driftStart = now;
}

void PointingEstimate::StartTracking(uint32_t now)
{
    EndDrift(now);
}

void PointingEstimate::EndDrift(uint32_t now)
{
    if (m_tracking)
        return;
    m_point = DriftPointAt(m_point, now - m_driftStart);
    m_tracking = true;
}

void PointingEstimate::StartGoto(const GotoCourse& course)
{
    // The course starts where the drift has taken the point: the caller
    // took its start from At().
    m_tracking = true;
    m_slewing = false;
    m_course = course;
    m_course.start.ra = WrapRa(course.start.ra);
    m_gotoRunning = true;
}

void PointingEstimate::FinishGoto()
{
    if (!m_gotoRunning)
        return;
    m_point = {WrapRa(m_course.target.ra), m_course.target.dec};
    m_gotoRunning = false;
}

SkyPoint PointingEstimate::AbortGoto(uint32_t now)
{
    if (m_gotoRunning) {
        m_point = GotoPointAt(m_course, now);
        m_gotoRunning = false;
    }
    return m_point;
}

void PointingEstimate::StartSlew(MoveDirection direction, double rate, uint32_t now)
{
    StopSlew(now);
    EndDrift(now);
    if (m_gotoRunning)
        return;
    m_slewing = true;
    m_slewDirection = direction;
    m_slewRate = rate;
    m_slewStart = now;
}

void PointingEstimate::StopSlew(uint32_t now)
{
    if (!m_slewing)
        return;
    m_point = SlewPointAt(m_point, m_slewDirection, m_slewRate, now - m_slewStart);
    m_slewing = false;
}

}  // namespace tavro
