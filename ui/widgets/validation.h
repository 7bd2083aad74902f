#pragma once
// What both windows share for their number fields: the reading of a field
// as an unsigned decimal number, and the validation colours.

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>

namespace tavro::ui {

// Reads a field's text as an unsigned decimal number: leading blanks are
// skipped, then at least one decimal digit must follow, and nothing but
// trailing blanks after the digits. A text without digits, with a sign or
// any other character, or with a value beyond 32 bits does not read.
std::optional<uint32_t> ReadUnsignedField(const QString& text);

// Validation colours: a valid field is blue on white, an invalid one white
// on red.
constexpr QColor kBadText(255, 255, 255);   // white
constexpr QColor kGoodText(0, 0, 255);      // blue
constexpr QColor kBadBack(255, 0, 0);       // red
constexpr QColor kGoodBack(255, 255, 255);  // white

// The same in night vision: red shades only, a valid field dim red on
// black, an invalid one black on a brighter red.
constexpr QColor kNightBadText(0, 0, 0);     // black
constexpr QColor kNightGoodText(160, 0, 0);  // dim red
constexpr QColor kNightBadBack(180, 0, 0);   // brighter red
constexpr QColor kNightGoodBack(0, 0, 0);    // black

}  // namespace tavro::ui
