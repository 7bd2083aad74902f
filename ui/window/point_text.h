#pragma once
// A point as the window shows it in seven fields: RA hours, minutes,
// seconds, the Dec sign ("+" or "-"), degrees, arc minutes, arc seconds,
// rounded to whole seconds; and the same seven texts read back as whole
// seconds times the double nearest to 1/3600.

#include <QString>
#include <array>
#include <optional>
#include <utility>

namespace tavro::ui {

using PointTexts = std::array<QString, 7>;

// Rounds to whole seconds (0.5 away from zero) and splits them up. Values
// beyond the fields' limits are shown as they come (24 h for 23:59:59.5).
PointTexts FormatPoint(double raHours, double decDegrees);

// Reads the texts back: RA hours and Dec degrees, in 32-bit whole seconds
// (wrapping like the processor's arithmetic); nothing when a number field
// does not read. Any sign text but "+" is minus. The fields' limits are not
// checked here.
std::optional<std::pair<double, double>> ReadPoint(const PointTexts& texts);

}  // namespace tavro::ui
