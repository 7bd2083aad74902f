#pragma once
// The gamepad's mapping: what a game controller's sticks, pad, buttons and
// triggers do to the main window's controls. Controller readings in, hold
// button presses and releases, speed choices, stop and goto out; no widgets
// and no device access, so that every rule can be driven directly.
//
//   D-pad, left stick   the four slewing buttons, as if the mouse held them
//   stick deflection    up to FastAbove the slow speed, beyond it fast
//   right shoulder      held: fast (slews and the focuser); released: slow
//   A                   "Pause", held
//   left/right trigger  focuser - / +
//   B                   stop everything (a slew, pause or focus run, a goto)
//   Start               "Goto >" to the Next point
//
// The board runs one manual command at a time, so one hold button at most
// is held for the gamepad: "Pause" before a slew, a slew before the focuser,
// the D-pad before the stick. A motion lasts as long as its input: released
// (back inside the dead zone), it is released; when a higher one ends, a
// lower one still held takes over.
//
// An input that is in use when the controller is found, when B is pressed,
// or when the window refuses its press (a goto runs, the board is not
// connected, a dialog is open) is spent: it does nothing until it has been
// let go, so that nothing starts by itself later.

#include <cstdint>

#include "settings/gamepad_settings.h"

namespace tavro::ui {

// One reading of a controller. Sticks run from -1 to 1 (y grows downward),
// triggers from 0 to 1.
struct GamepadState {
    double stickX = 0.0;
    double stickY = 0.0;
    double leftTrigger = 0.0;
    double rightTrigger = 0.0;
    bool padUp = false;
    bool padDown = false;
    bool padLeft = false;
    bool padRight = false;
    bool a = false;
    bool rightShoulder = false;
    // How many times B and Start went down since the controller was found:
    // a press is not lost when readings are taken up together.
    uint32_t stopPresses = 0;
    uint32_t gotoPresses = 0;
};

// What the gamepad acts on: the main window's controls, as the window would
// take them from the mouse.
class GamepadTarget {
public:
    virtual ~GamepadTarget() = default;
    // Checks speed button `speed` (when nonzero) and presses hold button
    // `id`; pressing the held button again restarts it at that speed. False
    // when the window does not take the press.
    virtual bool Press(int id, int speed) = 0;
    virtual void Release(int id) = 0;
    // Checks speed button `speed` when the speed buttons are enabled.
    virtual void ChooseSpeed(int speed) = 0;
    // Ends whatever moves: a slew, pause or focus run, and a goto.
    virtual void StopEverything() = 0;
    // "Goto >", when the window would take its click.
    virtual void GotoNext() = 0;
};

// A hold button and the speed button to check with it (0: none).
struct GamepadPress {
    int id = 0;
    int speed = 0;
    bool operator==(const GamepadPress&) const = default;
};

class CGamepadMapper {
public:
    CGamepadMapper(GamepadTarget& target, GamepadSettings settings);

    // A controller has been found: its inputs in use now are spent.
    void Connect(const GamepadState& state);
    // A new reading of the controller found.
    void Apply(const GamepadState& state);
    // The controller is gone: what it holds is released at once.
    void Disconnect();

    // The hold button held for the gamepad, or 0.
    int Held() const { return m_held.id; }
    // The last reading has no input in use that holds a motion.
    bool AtRest() const { return Active(m_last) == 0; }

private:
    enum Source : unsigned {
        kStick = 1u << 0,
        kPad = 1u << 1,
        kPause = 1u << 2,
        kFocusMinus = 1u << 3,
        kFocusPlus = 1u << 4,
    };
    // The inputs in use in `state`.
    unsigned Active(const GamepadState& state) const;
    // The press the inputs of `sources` want (none: id 0), and in `from`
    // the inputs it comes from.
    GamepadPress Wanted(const GamepadState& state, unsigned sources, unsigned* from) const;
    void ReleaseHeld();

    GamepadTarget& m_target;
    GamepadSettings m_settings;
    bool m_connected = false;
    GamepadPress m_held;
    unsigned m_spent = 0;
    GamepadState m_last;
};

}  // namespace tavro::ui
