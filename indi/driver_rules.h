#pragma once
// The INDI driver's rules that need no INDI: which port a DEVICE_PORT text
// names, the mount settings as the options dialog offers them, and how the
// four INDI slew rates map onto the board's three speeds.

#include <optional>
#include <string>

#include "mount/pointing.h"
#include "mount/sidereal_time.h"
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
// (the ranges and steps are each setting's offer in tavro::SettingRules())

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
MoveSpeed BoardSpeedOfRate(int rateIndex);

// The label of an INDI slew rate with the real speed of the mount model,
// e.g. "Slow 2.5x", "Fast 10x", "Goto 58x".
std::string SlewRateLabel(const MountSpeeds& speeds, int rateIndex);

// ---- Sidereal time and the park position --------------------------------

// A park position as INDI's park data keeps it: the hour angle (hours,
// -12..12, west positive) and the Dec (degrees).
struct ParkPosition {
    double hourAngle = 0.0;
    double dec = 90.0;
};

// A German mount's home: the tube at the celestial pole of the site's
// hemisphere (Dec +90 north of the equator, -90 south of it) with the
// counterweight bar down, i.e. the Dec axis level and the tube in the
// meridian: hour angle 0.
ParkPosition DefaultParkPosition(double latitudeDegrees);

// The hour angle of `raHours` at local sidereal time `lstHours`, -12..12.
double HourAngle(double raHours, double lstHours);

// The point (RA of the date, Dec) of `park` at local sidereal time
// `lstHours`.
SkyPoint ParkPoint(const ParkPosition& park, double lstHours);

// ---- Texts ----------------------------------------------------------------

// "05:30:00" for hours, "-05:00:00" / "+45:30:12" for degrees; rounded to
// the second, never showing 60 seconds or minutes.
std::string FormatHours(double hours);
std::string FormatDegrees(double degrees);

// A message on one line (INDI messages are one line): line breaks become
// spaces.
std::string OneLine(std::string text);

}  // namespace tavro::indi
