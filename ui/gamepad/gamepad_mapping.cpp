#include "ui/gamepad/gamepad_mapping.h"

#include <cmath>

#include "ui/window/control_dlg_ids.h"

namespace tavro::ui {

namespace {

bool IsSlew(int id)
{
    return id == IDC_RA_PLUS || id == IDC_RA_MINUS || id == IDC_DEC_PLUS || id == IDC_DEC_MINUS;
}

bool IsRaSlew(int id)
{
    return id == IDC_RA_PLUS || id == IDC_RA_MINUS;
}

// The slewing button of a direction as the screen lays them out (and the
// arrow keys take them): "Ra +" left, "Ra -" right, "Dec +" up, "Dec -"
// down. The larger axis wins; on a tie the axis held stays, else RA.
int SlewOf(double x, double y, int held)
{
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const bool ra = ax > ay || (ax == ay && !(IsSlew(held) && !IsRaSlew(held)));
    if (ra)
        return x < 0 ? IDC_RA_PLUS : IDC_RA_MINUS;
    return y < 0 ? IDC_DEC_PLUS : IDC_DEC_MINUS;
}

}  // namespace

CGamepadMapper::CGamepadMapper(GamepadTarget& target, GamepadSettings settings)
    : m_target(target), m_settings(settings)
{
}

unsigned CGamepadMapper::Active(const GamepadState& s) const
{
    unsigned active = 0;
    if (std::fmax(std::fabs(s.stickX), std::fabs(s.stickY)) > m_settings.deadZone)
        active |= kStick;
    if (s.padUp || s.padDown || s.padLeft || s.padRight)
        active |= kPad;
    if (s.a)
        active |= kPause;
    if (s.leftTrigger > m_settings.deadZone)
        active |= kFocusMinus;
    if (s.rightTrigger > m_settings.deadZone)
        active |= kFocusPlus;
    return active;
}

GamepadPress CGamepadMapper::Wanted(const GamepadState& s, unsigned sources, unsigned* from) const
{
    *from = 0;
    if (sources & kPause) {
        *from = kPause;
        return {IDC_PAUSE, 0};
    }
    if (sources & kPad) {
        const double x = (s.padRight ? 1.0 : 0.0) - (s.padLeft ? 1.0 : 0.0);
        const double y = (s.padDown ? 1.0 : 0.0) - (s.padUp ? 1.0 : 0.0);
        // Up and down (or left and right) together cancel: no direction.
        if (x != 0.0 || y != 0.0) {
            *from = kPad;
            return {SlewOf(x, y, m_held.id), s.rightShoulder ? IDC_SPEED_FAST : IDC_SPEED_SLOW};
        }
    }
    if (sources & kStick) {
        *from = kStick;
        const double deflection = std::fmax(std::fabs(s.stickX), std::fabs(s.stickY));
        const bool fast = s.rightShoulder || deflection > m_settings.fastAbove;
        return {SlewOf(s.stickX, s.stickY, m_held.id), fast ? IDC_SPEED_FAST : IDC_SPEED_SLOW};
    }
    const bool minus = (sources & kFocusMinus) != 0;
    const bool plus = (sources & kFocusPlus) != 0;
    if (minus || plus) {
        // Both triggers: the one pulled further; on a tie the one held stays.
        bool useMinus = minus;
        if (minus && plus) {
            if (s.leftTrigger != s.rightTrigger)
                useMinus = s.leftTrigger > s.rightTrigger;
            else
                useMinus = m_held.id == IDC_FOCUS_SLOW_MINUS || m_held.id == IDC_FOCUS_FAST_MINUS;
        }
        *from = useMinus ? kFocusMinus : kFocusPlus;
        if (s.rightShoulder)
            return {useMinus ? IDC_FOCUS_FAST_MINUS : IDC_FOCUS_FAST_PLUS, 0};
        return {useMinus ? IDC_FOCUS_SLOW_MINUS : IDC_FOCUS_SLOW_PLUS, 0};
    }
    return {};
}

void CGamepadMapper::ReleaseHeld()
{
    if (m_held.id == 0)
        return;
    const int id = m_held.id;
    m_held = {};
    m_target.Release(id);
}

void CGamepadMapper::Connect(const GamepadState& state)
{
    ReleaseHeld();
    m_connected = true;
    m_last = state;
    m_spent = Active(state);
}

void CGamepadMapper::Disconnect()
{
    m_connected = false;
    m_spent = 0;
    ReleaseHeld();
}

void CGamepadMapper::Apply(const GamepadState& state)
{
    if (!m_connected)
        return;
    const GamepadState last = m_last;
    m_last = state;
    unsigned active = Active(state);
    // An input let go may act again.
    m_spent &= active;

    const bool stop = state.stopPresses != last.stopPresses;
    if (stop) {
        // Whatever the gamepad held ends with the rest; nothing is released
        // after it, and every input in use is spent.
        m_held = {};
        m_spent = active;
        m_target.StopEverything();
        return;
    }
    // Start while a motion is held starts no goto (it would cut the motion
    // short under the operator's hand).
    if (state.gotoPresses != last.gotoPresses && m_held.id == 0)
        m_target.GotoNext();

    for (;;) {
        unsigned from = 0;
        const GamepadPress wanted = Wanted(state, active & ~m_spent, &from);
        if (wanted == m_held)
            break;
        if (wanted.id == 0) {
            ReleaseHeld();
            break;
        }
        // The press replaces the one held: the window ends the motion in
        // force before it starts the next (one manual command at a time).
        if (m_target.Press(wanted.id, wanted.speed)) {
            m_held = wanted;
            break;
        }
        // Refused: the window takes no press now. What was held is let go
        // (its input has moved on) and the input is spent.
        ReleaseHeld();
        m_spent |= from;
    }

    // The speed buttons show the shoulder's choice when no slew is held.
    if (state.rightShoulder != last.rightShoulder && !IsSlew(m_held.id))
        m_target.ChooseSpeed(state.rightShoulder ? IDC_SPEED_FAST : IDC_SPEED_SLOW);
}

}  // namespace tavro::ui
