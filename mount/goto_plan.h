#pragma once
// The goto plan: what a goto from one axis position to another will send
// and how long it will take, worked out without touching the line. The
// controller's worker sends a plan's frames; the estimate that the window's
// bars and the pointing follow is read from the same plan.
//
// The arithmetic decides the step counts that go to the board, so it is
// done in double precision with the operations in one fixed order (the
// mount library is compiled without fused multiply-adds).

#include <optional>
#include <vector>

#include "mount/mount_settings.h"
#include "mount/protocol.h"

namespace tavro {

// Where the mount's two axes stand, in the units the planner counts in: the
// RA axis in hours, the Dec axis in degrees. Today this is the RA and Dec
// the mount is believed to point at; a pointing model maps sky positions to
// axis positions and back.
struct AxisPosition {
    double raHours = 0.0;
    double decDegrees = 0.0;
    bool operator==(const AxisPosition&) const = default;
};

// One step frame: `steps` motor steps on each axis that has a direction (an
// axis without one stays still). The board takes no frame below
// kMinFrameSteps; such a frame stays in the plan and is not sent.
struct StepFrame {
    int steps = 0;
    std::optional<AxisDirection> ra;
    std::optional<AxisDirection> dec;
    bool operator==(const StepFrame&) const = default;
};
inline constexpr int kMinFrameSteps = 2;

struct GotoPlan {
    // False when the target's Dec lies beyond a pole (or is not a number):
    // such a goto sends nothing, has no travel time and changes nothing.
    bool moves = false;
    // The target as asked for (RA not wrapped).
    AxisPosition target;
    // The frames in the order they are sent: both axes together, then the
    // rest of the longer travel, with the RA gap's take-up after the last
    // frame that moves RA increasing.
    std::vector<StepFrame> frames;
    // Estimated travel of each axis, whole seconds (rounded half up).
    int raSeconds = 0;
    int decSeconds = 0;
    // The direction of the last Dec travel once this goto has run (the Dec
    // backlash gap is taken up when the next travel reverses it).
    AxisDirection lastDecTravel = AxisDirection::Increasing;
};

// The plan of a goto from `from` to `to` with `settings`, after a last Dec
// travel in `lastDecTravel`.
GotoPlan PlanGoto(const AxisPosition& from, const AxisPosition& to, const MountSettings& settings,
                  AxisDirection lastDecTravel);

// Seconds the RA axis travels for `hours` of RA, and the Dec axis for
// `degrees` of Dec (the sign is dropped), at the settings' goto speed.
double RaTravelSeconds(const MountSettings& settings, double hours);
double DecTravelSeconds(const MountSettings& settings, double degrees);

// Motor steps per hour of RA and per degree of Dec of the settings' model.
double RaStepsPerHour(const MountSettings& settings);
double DecStepsPerDegree(const MountSettings& settings);

// The point the mount is taken to stand at after a goto to `target`: RA
// wrapped into 0..24 hours.
AxisPosition ReachedPosition(const AxisPosition& target);

}  // namespace tavro

// 0..24 hours, with the rounding of a multiplication by the double nearest
// to 1/24 kept.
double WrapHours(double hours);
