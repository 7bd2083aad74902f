#include "ui/widgets/dialog_units.h"

#include <QFontMetricsF>
#include <QString>
#include <cmath>

namespace tavro::ui {

DialogUnits::DialogUnits(const QFont& dialogFont)
{
    const QFontMetricsF metrics(dialogFont);
    static const QString kLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = metrics.horizontalAdvance(kLetters) / 52.0;
    m_baseY = static_cast<int>(std::ceil(metrics.height()));
}

int DialogUnits::X(int dialogUnits) const
{
    return static_cast<int>(std::lround(dialogUnits * m_baseX / 4.0));
}

int DialogUnits::Y(int dialogUnits) const
{
    return (dialogUnits * m_baseY + 4) / 8;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const
{
    // Convert both corners so that neighbouring controls stay flush.
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QFont DialogFont()
{
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

}  // namespace tavro::ui
