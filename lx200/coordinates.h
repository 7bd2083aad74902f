#pragma once
// Right ascension and declination as LX200 texts: the replies to ":GR#" and
// ":GD#" in both precisions, and the arguments of ":Sr" and ":Sd" as the
// planetarium programs write them.

#include <optional>
#include <string>
#include <string_view>

namespace tavro::lx200 {

// "HH:MM:SS#" (high precision) or "HH:MM.T#" (low), RA wrapped into
// [0, 24) h. The whole seconds (tenths of a minute) are rounded from the
// total, so a value a hair below the next minute never shows as ":60".
std::string FormatRa(double hours, bool highPrecision);

// "sDD*MM:SS#" (high) or "sDD*MM#" (low), always signed, with an ASCII '*'
// (never the two-byte UTF-8 degree sign). Rounded from the total like the
// RA; a value that rounds to zero is "+".
std::string FormatDec(double degrees, bool highPrecision);

// The argument of ":Sr": "HH:MM:SS", "HH:MM:SS.S" or "HH:MM.T", blanks
// before it allowed. Nothing when it does not read or is not below 24 h.
std::optional<double> ParseRa(std::string_view text);

// The argument of ":Sd": an optional sign, degrees, a separator ('*', the
// byte 0xDF, ':' or the UTF-8 degree sign), minutes and, optionally, ':' or
// '\'' and seconds; blanks before it allowed. Nothing when it does not read
// or lies beyond +-90 degrees.
std::optional<double> ParseDec(std::string_view text);

// A site's longitude as ":Sg" gives it: up to three degree digits, the same
// separators as a Dec, at most 360 degrees.
std::optional<double> ParseLongitude(std::string_view text);

}  // namespace tavro::lx200
