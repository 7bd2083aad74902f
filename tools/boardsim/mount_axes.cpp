#include "tools/boardsim/mount_axes.h"
#include "tools/boardsim/mount_mechanics.h"

#include <cmath>

namespace tavro::sim {

namespace {

// The sky's turn: sidereal hours per hour of solar time.
constexpr double kSiderealPerSolar = 1.00273790935;
// The sidereal rate as the speed buttons' multiples count it, arcseconds of
// sky per second.
constexpr double kSiderealArcsecPerSecond = 15.041;
// Slow and fast slews in sidereal multiples: "2.5x" / "10x" on an EQ-5,
// "4x" / "8x" on an EQ-4.
constexpr double kSlowEQ5 = 2.5;
constexpr double kFastEQ5 = 10.0;
constexpr double kSlowEQ4 = 4.0;
constexpr double kFastEQ4 = 8.0;

double WrapDegrees(double degrees)
{
    double wrapped = std::remainder(degrees, 360.0);
    if (wrapped <= -180.0)
        wrapped += 360.0;
    return wrapped;
}

// The axes and the sense a step frame's direction byte moves: +1, -1, or 0
// when the axis takes no part.
struct FrameAxes {
    int ra = 0;
    int dec = 0;
};

FrameAxes DecodeFrame(uint8_t direction)
{
    switch (direction) {
    case 0xFD: return {+1, 0};
    case 0xFC: return {-1, 0};
    case 0xFE: return {0, +1};
    case 0xFF: return {0, -1};
    case 0xEC: return {+1, +1};
    case 0xED: return {+1, -1};
    case 0xEE: return {-1, +1};
    case 0xEF: return {-1, -1};
    default: return {};
    }
}

double StepsPerHour(MountModel model)
{
    return (model == MountModel::EQ5 ? 1453.0 : 2560.0) * 6;
}

double StepsPerDegree(MountModel model)
{
    return (model == MountModel::EQ5 ? 1453.0 : 2560.0) * 0.4;
}

// Seconds the RA motor needs for one hour of RA, the Dec motor for one
// degree, at the maximum goto speed `speed`.
double RaSecondsPerHour(MountModel model, int speed)
{
    const double s = speed;
    return model == MountModel::EQ5 ? (s * 755.222 + 4986.66) * 0.001 : s * 4.9146;
}

double DecSecondsPerDegree(MountModel model, int speed)
{
    const double s = speed;
    return model == MountModel::EQ5 ? (s * 50.3481 + 561.777) * 0.001 : s * 0.32764;
}

}  // namespace

MountAxes::MountAxes(MountModel model, double raHours, double decDegrees)
    : m_model(model), m_axes{WrapHours(raHours), WrapDegrees(decDegrees)}
{
}

void MountAxes::StepFrame(int count, uint8_t direction, int maxGotoSpeed)
{
    const FrameAxes axes = DecodeFrame(direction);
    if (count <= 0)
        return;
    if (axes.ra != 0) {
        const double hours = count / StepsPerHour(m_model);
        // The board does not track while the RA motor runs the frame: the
        // sky turns on for the motor's travel time.
        const double travelSeconds = RaSecondsPerHour(m_model, maxGotoSpeed) * hours;
        m_axes.raHours = WrapHours(m_axes.raHours + axes.ra * hours + travelSeconds / 3600.0 * kSiderealPerSolar);
    }
    if (axes.dec != 0)
        m_axes.decDegrees = WrapDegrees(m_axes.decDegrees + axes.dec * (count / StepsPerDegree(m_model)));
}

void MountAxes::StartSlew(int direction, int speed, int maxGotoSpeed, uint64_t atUs)
{
    EndMotion(atUs);
    if (direction < 0 || direction > 3 || speed < 0 || speed > 2)
        return;
    const bool ra = direction <= 1;
    const bool eq5 = m_model == MountModel::EQ5;
    double rate = 0.0;
    if (speed == 2) {
        // The goto speed: the motor-time model's travel rate of each axis.
        const double seconds =
            ra ? RaSecondsPerHour(m_model, maxGotoSpeed) : DecSecondsPerDegree(m_model, maxGotoSpeed);
        rate = seconds > 0 ? 1.0 / seconds : 0.0;
    } else {
        const double multiple = speed == 0 ? (eq5 ? kSlowEQ5 : kSlowEQ4) : (eq5 ? kFastEQ5 : kFastEQ4);
        const double arcsecPerSecond = multiple * kSiderealArcsecPerSecond;
        rate = ra ? arcsecPerSecond / (15.0 * 3600.0) : arcsecPerSecond / 3600.0;
    }
    m_motion = Motion::Slew;
    m_direction = direction;
    m_rate = rate;
    m_since = atUs;
}

void MountAxes::StartPause(uint64_t atUs)
{
    EndMotion(atUs);
    m_motion = Motion::Pause;
    m_since = atUs;
}

bool MountAxes::EndMotion(uint64_t atUs)
{
    if (m_motion == Motion::None)
        return false;
    m_axes = At(atUs);
    m_motion = Motion::None;
    return true;
}

AxisAngles MountAxes::At(uint64_t atUs) const
{
    const double seconds = atUs > m_since ? static_cast<double>(atUs - m_since) / 1e6 : 0.0;
    AxisAngles axes = m_axes;
    switch (m_motion) {
    case Motion::None:
        break;
    case Motion::Pause:
        axes.raHours = WrapHours(axes.raHours + seconds / 3600.0 * kSiderealPerSolar);
        break;
    case Motion::Slew: {
        const double sense = (m_direction == 0 || m_direction == 2) ? 1.0 : -1.0;
        if (m_direction <= 1)
            axes.raHours = WrapHours(axes.raHours + sense * m_rate * seconds);
        else
            axes.decDegrees = WrapDegrees(axes.decDegrees + sense * m_rate * seconds);
        break;
    }
    }
    return axes;
}

}  // namespace tavro::sim
