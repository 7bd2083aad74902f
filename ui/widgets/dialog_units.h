#pragma once
// Places controls from dialog-template tables given in dialog units, the
// way the program's windows are laid out: the horizontal base unit is the
// average width of the 52 letters A-Z and a-z of the dialog font, the
// vertical base unit its height; x px = x * base_x / 4, y px = y * base_y / 8.

#include <QFont>
#include <QRect>

namespace tavro::ui {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& dialogFont);

    int X(int dialogUnits) const;   // horizontal dialog units to pixels
    int Y(int dialogUnits) const;   // vertical dialog units to pixels
    QRect Rect(int x, int y, int width, int height) const;

    double BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

private:
    double m_baseX;
    int m_baseY;
};

// The dialog font of the program's windows: the desktop's sans-serif font
// at 8 points, standing in for the classic dialog font.
QFont DialogFont();

}  // namespace tavro::ui
