// The goto plan's arithmetic. Every step keeps its operation order: the
// results are step counts on the wire, compared to the last digit.

#include "mount/goto_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace tavro {

namespace {

constexpr double kOneOver24 = 0.041666666666666664;
constexpr double kHoursPerMinute = 0.016666666666666666;    // also degrees per arc minute
// Hours of RA the sky turns per second of travel (1.0028 / 3600).
constexpr double kSkyHoursPerSecond = 0.00027855555555555554;
constexpr double kHoursInDay = 24;
constexpr double kHalfDayHours = 12;
constexpr double kMaxDecDegrees = 90;
constexpr double kMinDecDegrees = -90;

// Motor steps of the step scale: RA steps per hour, Dec steps per degree
// and RA gap steps per minute of time are these multiples of it.
constexpr double kStepScaleEq5 = 1453;
constexpr double kStepScaleEq4 = 2560;
constexpr double kRaStepsPerScale = 6;
constexpr double kDecStepsPerScale = 0.4;
constexpr double kRaGapStepsPerScale = 0.1;

// Travel-time models: EQ-5 (speed x rate + offset) thousandths of a second
// per hour of RA or degree of Dec; EQ-4 speed x rate seconds.
constexpr double kEq5RaMsPerSpeed = 755.222;
constexpr double kEq5RaMsOffset = 4986.66;
constexpr double kEq5DecMsPerSpeed = 50.3481;
constexpr double kEq5DecMsOffset = 561.777;
constexpr double kSecondsPerMs = 0.001;
constexpr double kEq4RaSecondsPerSpeed = 4.9146;
constexpr double kEq4DecSecondsPerSpeed = 0.32764;

// Estimates are rounded half up.
constexpr double kHalf = 0.5;

// Truncation toward zero into a 32-bit signed integer; values beyond its
// range saturate instead of being undefined.
int TruncateToInt(double value)
{
    if (!(value > static_cast<double>(std::numeric_limits<int>::min()) - 1.0))
        return std::isnan(value) ? 0 : std::numeric_limits<int>::min();
    if (!(value < static_cast<double>(std::numeric_limits<int>::max()) + 1.0))
        return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

// |steps|, kept within int (the magnitude of the most negative int does
// not fit).
int Magnitude(int steps)
{
    const long long magnitude = std::llabs(static_cast<long long>(steps));
    return static_cast<int>(std::min<long long>(magnitude, std::numeric_limits<int>::max()));
}

double StepScale(const MountSettings& settings)
{
    return settings.Eq5() ? kStepScaleEq5 : kStepScaleEq4;
}

}  // namespace

double RaTravelSeconds(const MountSettings& settings, double hours)
{
    const double speed = static_cast<double>(settings.maxGotoSpeed);
    const double distance = std::fabs(hours);
    if (settings.Eq5())
        return ((speed * kEq5RaMsPerSpeed + kEq5RaMsOffset) * distance) * kSecondsPerMs;
    return (speed * kEq4RaSecondsPerSpeed) * distance;
}

double DecTravelSeconds(const MountSettings& settings, double degrees)
{
    const double speed = static_cast<double>(settings.maxGotoSpeed);
    const double distance = std::fabs(degrees);
    if (settings.Eq5())
        return ((speed * kEq5DecMsPerSpeed + kEq5DecMsOffset) * distance) * kSecondsPerMs;
    return (speed * kEq4DecSecondsPerSpeed) * distance;
}

double RaStepsPerHour(const MountSettings& settings)
{
    return StepScale(settings) * kRaStepsPerScale;
}

double DecStepsPerDegree(const MountSettings& settings)
{
    return StepScale(settings) * kDecStepsPerScale;
}

AxisPosition ReachedPosition(const AxisPosition& target)
{
    return {WrapHours(target.raHours), target.decDegrees};
}

GotoPlan PlanGoto(const AxisPosition& from, const AxisPosition& to, const MountSettings& settings,
                  AxisDirection lastDecTravel)
{
    GotoPlan plan;
    plan.target = to;
    plan.lastDecTravel = lastDecTravel;
    // Beyond a pole (or not a number) nothing moves.
    if (to.decDegrees > kMaxDecDegrees || !(to.decDegrees >= kMinDecDegrees))
        return plan;
    plan.moves = true;

    // RA travel the shorter way round; exactly 12 h goes the positive way.
    double raHours = WrapHours(to.raHours - from.raHours);
    if (raHours > kHalfDayHours)
        raHours = raHours - kHoursInDay;
    double decDegrees = to.decDegrees - from.decDegrees;

    // The RA gap is taken up on travel toward increasing RA only.
    if (raHours > 0)
        raHours = settings.raGapMinutes * kHoursPerMinute + raHours;
    // The sky moves on during the travel; the correction is always
    // subtracted, whatever the way of the travel, and is taken on the travel
    // with its gap.
    if (raHours != 0) {
        const double travelSeconds = RaTravelSeconds(settings, raHours);
        raHours = raHours - travelSeconds * kSkyHoursPerSecond;
    }

    // Dec backlash: the gap is added, away from zero, when the travel
    // reverses the last one; a travel the same way, or none, gets none.
    if (decDegrees > 0 && plan.lastDecTravel == AxisDirection::Decreasing) {
        decDegrees = settings.decGapArcmin * kHoursPerMinute + decDegrees;
        plan.lastDecTravel = AxisDirection::Increasing;
    }
    if (decDegrees < 0 && plan.lastDecTravel == AxisDirection::Increasing) {
        decDegrees = decDegrees - settings.decGapArcmin * kHoursPerMinute;
        plan.lastDecTravel = AxisDirection::Decreasing;
    }

    // The estimate is taken on the corrected travel; the gap's take-up has
    // no share in it.
    plan.raSeconds = TruncateToInt(RaTravelSeconds(settings, raHours) + kHalf);
    plan.decSeconds = TruncateToInt(DecTravelSeconds(settings, decDegrees) + kHalf);

    const double scale = StepScale(settings);
    const int raSteps = TruncateToInt((scale * raHours) * kRaStepsPerScale);
    const int decSteps = TruncateToInt((scale * decDegrees) * kDecStepsPerScale);
    // The take-up backs off as many steps as the gap added: from the
    // setting, not from the travel.
    const int gapSteps = TruncateToInt((scale * settings.raGapMinutes) * kRaGapStepsPerScale);
    const AxisDirection raWay = raSteps < 0 ? AxisDirection::Decreasing : AxisDirection::Increasing;
    const AxisDirection decWay = decSteps < 0 ? AxisDirection::Decreasing : AxisDirection::Increasing;

    // Both axes move together as far as the shorter travel goes; the rest
    // moves the axis with the longer travel alone.
    const int raTravel = Magnitude(raSteps);
    const int decTravel = Magnitude(decSteps);
    const int together = std::min(raTravel, decTravel);
    const int raRest = raTravel - together;
    const int decRest = decTravel - together;

    const bool takeUp = raWay == AxisDirection::Increasing;
    const StepFrame takeUpFrame{gapSteps, AxisDirection::Decreasing, std::nullopt};
    if (together > 0) {
        plan.frames.push_back({together, raWay, decWay});
        if (raRest > 0)
            plan.frames.push_back({raRest, raWay, std::nullopt});
        if (takeUp)
            plan.frames.push_back(takeUpFrame);
        if (decRest > 0)
            plan.frames.push_back({decRest, std::nullopt, decWay});
    } else if (raTravel > 0) {
        plan.frames.push_back({raTravel, raWay, std::nullopt});
        if (takeUp)
            plan.frames.push_back(takeUpFrame);
    } else if (decTravel > 0) {
        plan.frames.push_back({decTravel, std::nullopt, decWay});
    }
    return plan;
}

}  // namespace tavro

double WrapHours(double hours)
{
    const double dayFraction = hours * tavro::kOneOver24;
    double wholeDays = 0.0;
    const double fraction = std::modf(dayFraction, &wholeDays);
    double wrapped = fraction * tavro::kHoursInDay;
    if (wrapped < 0)
        wrapped = wrapped + tavro::kHoursInDay;
    return wrapped;
}
