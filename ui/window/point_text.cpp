#include "ui/window/point_text.h"

#include <cstdint>
#include <cstdlib>

#include "ui/widgets/validation.h"

namespace tavro::ui {

namespace {

// The double nearest to 1/3600: points are read back as whole seconds times
// this factor, not divided by 3600.
constexpr double kSecondsToUnits = 0.0002777777777777778;

// Truncates toward zero like the processor's conversion: a value that does
// not fit (or NaN) gives the "integer indefinite" INT32_MIN instead of
// undefined behaviour.
int32_t TruncateToInt32(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// An unsigned decimal number without leading zeros, as the window's integer
// writer shows any 32-bit value.
QString UnsignedText(int64_t value)
{
    return QString::number(static_cast<uint32_t>(value));
}

}  // namespace

PointTexts FormatPoint(double raHours, double decDegrees)
{
    const int32_t raSec = TruncateToInt32(raHours * 3600.0 + 0.5);
    const int32_t decSec = TruncateToInt32(decDegrees < 0 ? decDegrees * 3600.0 - 0.5
                                                          : decDegrees * 3600.0 + 0.5);
    const int64_t a = std::llabs(static_cast<int64_t>(decSec));
    return {UnsignedText(raSec / 3600),     UnsignedText((raSec / 60) % 60),
            UnsignedText(raSec % 60),       decSec < 0 ? QStringLiteral("-") : QStringLiteral("+"),
            UnsignedText(a / 3600),         UnsignedText((a / 60) % 60),
            UnsignedText(a % 60)};
}

std::optional<std::pair<double, double>> ReadPoint(const PointTexts& texts)
{
    uint32_t v[6];
    const int numbers[6] = {0, 1, 2, 4, 5, 6};
    for (int i = 0; i < 6; ++i) {
        const std::optional<uint32_t> value = ReadUnsignedField(texts[static_cast<size_t>(numbers[i])]);
        if (!value)
            return std::nullopt;
        v[i] = *value;
    }
    // 32-bit arithmetic, wrapping like the processor's rather than
    // overflowing.
    const auto raSec = static_cast<int32_t>((v[0] * 60u + v[1]) * 60u + v[2]);
    auto decSec = static_cast<int32_t>((v[3] * 60u + v[4]) * 60u + v[5]);
    if (texts[3] != QStringLiteral("+"))
        decSec = static_cast<int32_t>(0u - static_cast<uint32_t>(decSec));
    return std::pair{raSec * kSecondsToUnits, decSec * kSecondsToUnits};
}

}  // namespace tavro::ui
