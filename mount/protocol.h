#pragma once
// The controller board's wire protocol: modes, command bytes and the pauses
// and minimum times that the line needs.

#include <cstdint>
#include <optional>

namespace tavro {

// The board's mode as last selected by the PC. The values are the board's
// mode numbers (there is no mode 2).
enum class Mode { None = 0, Manual = 1, Goto = 3, K3CCD = 4 };

// A manual slew's direction and speed, as the slew table below orders them.
enum class MoveDirection { RaPlus = 0, RaMinus = 1, DecPlus = 2, DecMinus = 3 };
enum class MoveSpeed { Slow = 0, Fast = 1, Goto = 2 };
// The way an axis travels in a goto's step frame: toward larger RA or Dec,
// or toward smaller.
enum class AxisDirection { Increasing, Decreasing };

}  // namespace tavro

constexpr tavro::Mode MODE_NONE = tavro::Mode::None;     // command level
constexpr tavro::Mode MODE_MANUAL = tavro::Mode::Manual;
constexpr tavro::Mode MODE_GOTO = tavro::Mode::Goto;
constexpr tavro::Mode MODE_K3CCD = tavro::Mode::K3CCD;   // guide mode for the K3CCD capture program

namespace tavro::proto {

constexpr uint8_t kLeaveMode = 'q';      // 71: back to command level
constexpr uint8_t kConfigure = 'z';      // 7A: four parameter bytes follow
constexpr uint8_t kSelectManual = 'a';   // 61
constexpr uint8_t kSelectGoto = 'c';     // 63
constexpr uint8_t kSelectK3CCD = 'd';    // 64
constexpr uint8_t kPause = 'o';          // 6F
constexpr uint8_t kStop = 'j';           // 6A, sent twice in one write
constexpr uint8_t kStepFrame = 'h';      // 68, then 24-bit count and direction
constexpr uint8_t kStepAnswer = '-';     // 2D, the board's answer to a step frame

// Slew bytes by speed index (0 slowest, 1 faster, 2 goto speed), each string
// indexed by direction (0 RA+, 1 RA-, 2 Dec+, 3 Dec-).
constexpr const char* kSlewBytes[3] = {"<>^Y", "ADWX", "JLI,"};

// The slew byte of `speed` and `direction`; nothing for a value outside the
// enumerations (one made by a cast), which the table does not hold.
constexpr std::optional<uint8_t> SlewByte(MoveSpeed speed, MoveDirection direction)
{
    const int s = static_cast<int>(speed);
    const int d = static_cast<int>(direction);
    if (s < 0 || s > 2 || d < 0 || d > 3)
        return std::nullopt;
    return static_cast<uint8_t>(kSlewBytes[s][d]);
}

// The byte that selects `mode` from command level; nothing for command
// level itself, which is reached by kLeaveMode alone.
constexpr std::optional<uint8_t> SelectByte(Mode mode)
{
    switch (mode) {
    case Mode::Manual: return kSelectManual;
    case Mode::Goto: return kSelectGoto;
    case Mode::K3CCD: return kSelectK3CCD;
    case Mode::None: break;
    }
    return std::nullopt;
}

// Focuser bytes: slow +, slow -, fast +, fast -.
constexpr uint8_t kFocusSlowPlus = '9';
constexpr uint8_t kFocusSlowMinus = '0';
constexpr uint8_t kFocusFastPlus = '(';
constexpr uint8_t kFocusFastMinus = ')';

// Direction byte of a step frame.
constexpr uint8_t kDirRaPlus = 0xFD;
constexpr uint8_t kDirRaMinus = 0xFC;
constexpr uint8_t kDirDecPlus = 0xFE;
constexpr uint8_t kDirDecMinus = 0xFF;
constexpr uint8_t kDirRaPlusDecPlus = 0xEC;
constexpr uint8_t kDirRaPlusDecMinus = 0xED;
constexpr uint8_t kDirRaMinusDecPlus = 0xEE;
constexpr uint8_t kDirRaMinusDecMinus = 0xEF;

// Pauses and minimum times on the line, in milliseconds.
constexpr uint32_t kPauseAfterLeave = 50;     // after every "q" that leaves a mode
constexpr uint32_t kPauseAfterConfig = 150;   // after "z" and after the parameters
constexpr uint32_t kPauseAfterGoto = 150;     // after "c"
constexpr uint32_t kMinMotionTime = 140;      // slew/pause/focus byte to its "jj"
constexpr uint32_t kPauseAfterStop = 30;      // after "jj"
constexpr uint32_t kPauseAfterFrame = 20;     // after a step frame, before the purge

// Direction byte for a step frame; an axis without a direction has no part
// (at least one must have one).
uint8_t StepDirectionByte(std::optional<AxisDirection> ra, std::optional<AxisDirection> dec);

}  // namespace tavro::proto
