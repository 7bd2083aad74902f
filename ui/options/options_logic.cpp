#include "ui/options/options_logic.h"

#include <cmath>

namespace tavro::ui {

QString ClockCorrectionLabel(int position)
{
    switch (position) {
    case 1: return QStringLiteral("-0.2%");
    case 2: return QStringLiteral("-0.1%");
    case 3: return QStringLiteral("Def.");
    case 4: return QStringLiteral("+0.1%");
    case 5: return QStringLiteral("+0.2%");
    default: return QString();
    }
}

// QString::asprintf formats numbers in the C locale, so the texts keep
// their decimal point under any user locale.
QString FormatRaGap(double minutesOfTime)
{
    return QString::asprintf("%0.2f m", minutesOfTime);
}

QString FormatDecGap(double minutesOfArc)
{
    return QString::asprintf("%0.1f'", minutesOfArc);
}

int ClampSpinPosition(long long position, int maxPosition)
{
    if (position < 0)
        return 0;
    if (position > maxPosition)
        return maxPosition;
    return static_cast<int>(position);
}

int GapSpinPosition(double gap, int unitsPerMinute, int maxPosition)
{
    const double scaled = gap * unitsPerMinute + 0.5;
    if (!(scaled >= 0.0))   // negative or NaN
        return 0;
    if (scaled >= static_cast<double>(maxPosition) + 1.0)
        return maxPosition;
    return ClampSpinPosition(static_cast<long long>(scaled), maxPosition);
}

int GapTextPosition(int current, int delta, int maxPosition)
{
    const long long proposed = static_cast<long long>(current) + delta;
    if (proposed >= 0 && proposed <= maxPosition)
        return static_cast<int>(proposed);
    const int clamped = ClampSpinPosition(proposed, maxPosition);
    return clamped == current ? -1 : clamped;
}

}  // namespace tavro::ui
