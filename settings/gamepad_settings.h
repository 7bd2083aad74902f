#pragma once
// The settings file's [Gamepad] group: how far a stick or trigger must move
// before it acts, and how far a stick must go for the fast speed.
//
//   [Gamepad]                 ; read by the window, written by no one
//   DeadZone=0.25             ; 0.05 to 0.9 of the full travel
//   FastAbove=0.85            ; above DeadZone, up to 1 (1: the stick alone
//                             ; never chooses fast)
//
// A value that is not a number, or out of range, is not taken: the load says
// why in `problems`, in words that name the group and key, and the default
// stays.

#include <string>
#include <vector>

namespace tavro {

inline constexpr char kGamepadGroup[] = "Gamepad";

struct GamepadSettings {
    // A stick or trigger at or inside this fraction of its travel is at rest.
    double deadZone = 0.25;
    // A stick beyond this fraction of its travel slews at the fast speed.
    double fastAbove = 0.85;
};

// Limits of the values taken.
inline constexpr double kMinDeadZone = 0.05;
inline constexpr double kMaxDeadZone = 0.9;

struct GamepadSettingsLoad {
    GamepadSettings settings;
    // Why a value present in the group was not taken, one text each.
    std::vector<std::string> problems;
};

// The [Gamepad] group of the file at `path`. A missing file, group or key
// keeps the default without a problem.
GamepadSettingsLoad LoadGamepadSettings(const std::string& path);

}  // namespace tavro
