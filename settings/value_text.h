#pragma once
// Text forms of the stored values: numbers as plain unsigned decimals,
// gaps as fixed-point text and read back by their leading number. All of it
// is independent of the process locale (the window's locale may use a
// decimal comma; the file never does).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro {

// Longest text a stored string value may have; a longer one counts as
// missing.
inline constexpr size_t kMaxStoredText = 63;

// The number of a text made only of decimal digits (at least one) whose
// value fits in 32 bits unsigned; empty for anything else (signs, blanks,
// letters, more than 4294967295).
std::optional<uint32_t> ParsePlainNumber(std::string_view text);

// The decimal number at the start of `text` after leading white space: an
// optional sign, digits with an optional point, an optional exponent; what
// follows is ignored. Empty when the text does not start with such a number.
std::optional<double> ParseLeadingNumber(std::string_view text);

// The number a whole value text stands for: blanks around it, an optional
// sign, decimal digits with an optional point and exponent; in the C
// locale's form whatever the process locale. Nothing for any other text,
// and for a text that is no finite number ("inf", "nan").
std::optional<double> ParseWholeNumber(std::string_view text);

// `value` in fixed-point notation with `decimals` digits after the point,
// rounded to nearest ("%0.2f" for 2, "%0.1f" for 1).
std::string FormatFixed(double value, int decimals);

// True when `text` is "EQ4" in any letter case.
bool IsEq4Text(std::string_view text);

}  // namespace tavro
