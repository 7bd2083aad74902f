#include "ui/widgets/validation.h"

namespace tavro::ui {

std::optional<uint32_t> ReadUnsignedField(const QString& text)
{
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    uint64_t value = 0;
    int digits = 0;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        value = value * 10 + static_cast<uint64_t>(text[i].unicode() - '0');
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
        ++digits;
        ++i;
    }
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (digits == 0 || i != n)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace tavro::ui
