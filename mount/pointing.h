#pragma once
// Where the mount points, worked out from what it was told: the board
// reports no position, so every front end that shows one (the INDI driver,
// the planetarium link) estimates it from the last synced point, the goto
// under way and the slews made since. The arithmetic lives here once:
//
//   - the speeds of the mount model in multiples of the sidereal rate: the
//     slow and fast slews as the window's speed buttons name them, and the
//     goto speed from the planner's travel-time model;
//   - the position during a goto, moving from the start to the target in
//     step with the planner's estimated travel time of each axis (the same
//     tick arithmetic as the window's progress bars);
//   - the position under a manual slew at a given rate;
//   - PointingEstimate, which keeps the point through syncs, gotos (reached
//     or aborted) and slews.
//
// Points are as the controller takes them: RA in hours, Dec in degrees
// (of the date: JNow). No clock of its own: every call is given the tick
// (milliseconds, 32-bit, wrapping like tavro::Clock's).

#include <cstdint>

#include "mount/mount_controller.h"
#include "mount/protocol.h"

namespace tavro {

using SkyPoint = CMountController::Point;

// The sidereal rate: arcseconds of sky per second of time.
inline constexpr double kSiderealArcsecPerSecond = 15.041;

// A mount's speeds in multiples of the sidereal rate.
struct MountSpeeds {
    double slow = 0.0;     // EQ-5 2.5x, EQ-4 4x
    double fast = 0.0;     // EQ-5 10x, EQ-4 8x
    double gotoRa = 0.0;   // the planner's RA travel rate at the maximum goto speed
    double gotoDec = 0.0;  // the planner's Dec travel rate at the maximum goto speed
};

// The speeds of the controller's mount model at its maximum goto speed.
MountSpeeds SpeedsOf(const CMountController& controller);

// The rate of a slew at `speed` in `direction`, in sidereal multiples: the
// goto speed differs between the axes.
double SlewRate(const MountSpeeds& speeds, MoveSpeed speed, MoveDirection direction);

// RA wrapped into [0, 24) hours; an RA within that range is returned as
// it is.
double WrapRa(double hours);

// A goto as the estimate follows it: from `start` to `target`, each axis
// taking its estimated travel seconds (CMountController::EstimateGoto; a
// negative or zero estimate means no travel) from `startTick`.
struct GotoCourse {
    SkyPoint start;
    SkyPoint target;
    int raSeconds = 0;
    int decSeconds = 0;
    uint32_t startTick = 0;
};

// How far (0..1) an axis of `travelSeconds` has come at `now`: the window's
// progress bar position (tenths of a percent, truncated) over 1000, so the
// estimate and the bars agree; 1 once the travel time has passed.
double GotoFraction(uint32_t now, uint32_t startTick, int travelSeconds);

// The estimated point at `now`: RA along the shorter way round (exactly
// 12 h goes the positive way, as the planner does), Dec straight; the
// target itself once both travel times have passed.
SkyPoint GotoPointAt(const GotoCourse& course, uint32_t now);

// The point reached from `start` after a slew of `elapsedMs` in `direction`
// at `rate` sidereal multiples. A Dec slew carries over a pole as the axis
// does (Dec turns back, RA moves by 12 h).
SkyPoint SlewPointAt(const SkyPoint& start, MoveDirection direction, double rate, uint32_t elapsedMs);

// Sidereal seconds per second of solar time: the rate at which the sky
// turns, and so the rate at which the RA of a mount that stands still grows.
inline constexpr double kSiderealPerSolar = 1.00273790935;

// The point of a mount whose RA drive stands still (the board's pause), from
// `start` after `elapsedMs`: the hour angle stays, so the RA grows with the
// sidereal time; Dec stays.
SkyPoint DriftPointAt(const SkyPoint& start, uint32_t elapsedMs);

// The pointing of one front end: not thread-safe, kept on its own thread.
class PointingEstimate {
public:
    // The estimated point at `now`.
    SkyPoint At(uint32_t now) const;

    // The mount points at `point` (a sync): a goto under way is not changed
    // (syncs are refused during one), a slew in force goes on from it.
    void Sync(const SkyPoint& point, uint32_t now);

    // A goto starts from the current estimate at `course.startTick`.
    void StartGoto(const GotoCourse& course);
    // The goto reached its target: the point is the target.
    void FinishGoto();
    // The goto was cut short at `now`: the point is the estimate then,
    // which is returned.
    SkyPoint AbortGoto(uint32_t now);
    bool GotoRunning() const { return m_gotoRunning; }
    const GotoCourse& Course() const { return m_course; }

    // A slew at `rate` (sidereal multiples) in `direction` starts at `now`;
    // one in force ends there first.
    void StartSlew(MoveDirection direction, double rate, uint32_t now);
    // The slew in force ends at `now` (nothing when none is).
    void StopSlew(uint32_t now);
    bool Slewing() const { return m_slewing; }

    // The RA drive stops at `now` (tracking off): from then on the point
    // drifts with the sky (DriftPointAt) until tracking is on again. A goto
    // or a slew starts from the drifted point with tracking on.
    void StopTracking(uint32_t now);
    // The RA drive runs again from `now`: the point stays where the drift
    // took it.
    void StartTracking(uint32_t now);
    bool Tracking() const { return m_tracking; }

private:
    // Folds a drift up to `now` into m_point.
    void EndDrift(uint32_t now);

    SkyPoint m_point;           // the point when nothing moves, or where the slew began
    bool m_gotoRunning = false;
    GotoCourse m_course;
    bool m_slewing = false;
    MoveDirection m_slewDirection = MoveDirection::RaPlus;
    double m_slewRate = 0.0;
    uint32_t m_slewStart = 0;
    bool m_tracking = true;
    uint32_t m_driftStart = 0;
};

}  // namespace tavro
