#pragma once
// The INDI driver's rules that need no INDI: which port a DEVICE_PORT text
// names, the mount settings as the options dialog offers them, and how the
// four INDI slew rates map onto the board's three speeds.

#include <string>

#include "mount/pointing.h"
#include "platform/serial_port.h"

namespace tavro::indi {

// ---- The port -------------------------------------------------------------

// The port a DEVICE_PORT text names: its number, or 0 and why not.
struct PortChoice {
    int number = 0;
    std::string error;
};

// "COMn" (n from 1 to 255, any case) is port n, as in the window. A device
// path is the lowest number whose device it is (the settings file's [Ports]
// map first, then the fixed ttyS / ttyUSB / ttyACM rule); a path that no
// number maps to is entered into `map` under the lowest free number above
// 96 (where the fixed rule maps nothing), so that the controller opens it
// and its messages name it.
PortChoice ChoosePort(const std::string& text, PortMap& map);

// "COMn".
std::string PortName(int number);

// ---- The mount settings, as the options dialog offers them ----------------

inline constexpr int kMinGotoSpeed = 48;
inline constexpr int kMaxGotoSpeed = 255;
inline constexpr int kMinClockCorrection = 1;   // -0.2%
inline constexpr int kMaxClockCorrection = 5;   // +0.2%
inline constexpr double kMaxRaGap = 4.0;        // minutes of time, in steps of 0.01
inline constexpr double kMaxDecGapOffered = 60.0;  // minutes of arc, in steps of 0.1
inline constexpr int kMinAutoguideSteps = 1;
inline constexpr int kMaxAutoguideSteps = 4;
inline constexpr int kMinK3CCDOption = 0;
inline constexpr int kMaxK3CCDOption = 2;

// A gap as the dialog's spin would hold it: the nearest step within
// 0..maximum, as that step's count times the step (the same double the
// dialog stores).
double RaGapAsOffered(double minutesOfTime);
double DecGapAsOffered(double minutesOfArc);

// ---- Slew rates -----------------------------------------------------------

// The four INDI slew rates (TELESCOPE_SLEW_RATE: guide, centering, find,
// max) on the board's three speeds: guide -> slow, centering -> fast, find
// and max -> goto speed.
inline constexpr int kSlewRateCount = 4;
int BoardSpeedOfRate(int rateIndex);

// The label of an INDI slew rate with the real speed of the mount model,
// e.g. "Slow 2.5x", "Fast 10x", "Goto 58x".
std::string SlewRateLabel(const MountSpeeds& speeds, int rateIndex);

// ---- Texts ----------------------------------------------------------------

// "05:30:00" for hours, "-05:00:00" / "+45:30:12" for degrees; rounded to
// the second, never showing 60 seconds or minutes.
std::string FormatHours(double hours);
std::string FormatDegrees(double degrees);

// A message on one line (INDI messages are one line): line breaks become
// spaces.
std::string OneLine(std::string text);

}  // namespace tavro::indi
