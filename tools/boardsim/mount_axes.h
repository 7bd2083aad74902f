#pragma once
// The simulated mount's axis position, reckoned the way the program reckons
// its own: an RA in hours and a Dec in degrees. Step frames move the axes by
// their step counts; manual slews move them at the nominal rates of the
// speed buttons (the goto speed at the motor-time model's travel rate) from
// the slew byte to the stop. While the RA drive tracks, the RA stays; while
// it stands (the pause, and the RA motor's travel of a step frame, during
// which the board does not track) the sky turns on and the RA grows at the
// sidereal rate. The Dec axis runs on past a pole as the real one does.
// No I/O and no clock: every call is given its time (microseconds).

#include <cstdint>

#include "tools/boardsim/board_model.h"

namespace tavro::sim {

struct AxisAngles {
    double raHours = 0.0;     // wrapped into [0, 24)
    double decDegrees = 0.0;  // (-180, 180]: beyond +-90 past a pole
};

class MountAxes {
public:
    MountAxes(MountModel model, double raHours, double decDegrees);

    // A step frame of `count` steps with the given direction byte, the RA
    // motor (if it takes part) travelling at the maximum goto speed.
    void StepFrame(int count, uint8_t direction, int maxGotoSpeed);
    // A slew (direction 0 RA+, 1 RA-, 2 Dec+, 3 Dec-; speed index 0..2)
    // starts at `atUs`; a motion in force ends there first.
    void StartSlew(int direction, int speed, int maxGotoSpeed, uint64_t atUs);
    // The RA drive stops (the board's pause) at `atUs`; a motion in force
    // ends there first.
    void StartPause(uint64_t atUs);
    // The slew or pause in force ends at `atUs`. False when none was.
    bool EndMotion(uint64_t atUs);
    bool Moving() const { return m_motion != Motion::None; }

    // The axes at `atUs`, a motion in force included.
    AxisAngles At(uint64_t atUs) const;

private:
    enum class Motion { None, Slew, Pause };

    MountModel m_model;
    AxisAngles m_axes;
    Motion m_motion = Motion::None;
    int m_direction = 0;
    double m_rate = 0.0;  // hours or degrees per second
    uint64_t m_since = 0;
};

}  // namespace tavro::sim
