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

// Validation colours, as 0x00BBGGRR values and as QColors.
constexpr uint32_t kBadTextRef = 0x00FFFFFF;   // white
constexpr uint32_t kGoodTextRef = 0x00FF0000;  // blue
constexpr uint32_t kBadBackRef = 0x000000FF;   // red
constexpr uint32_t kGoodBackRef = 0x00FFFFFF;  // white

// The same in night vision: red shades only, a valid field dim red on
// black, an invalid one black on a brighter red.
constexpr uint32_t kNightBadTextRef = 0x00000000;   // black
constexpr uint32_t kNightGoodTextRef = 0x000000A0;  // dim red
constexpr uint32_t kNightBadBackRef = 0x000000B4;   // brighter red
constexpr uint32_t kNightGoodBackRef = 0x00000000;  // black

QColor ColorFromRef(uint32_t bbggrr);

}  // namespace tavro::ui
