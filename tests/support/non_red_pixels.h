#pragma once
// Night vision's check on a widget's picture: how many pixels have green or
// blue above a quarter of their red plus 8 (of 255). None should in night
// vision.

#include <QImage>
#include <QWidget>

namespace tavro::test {

inline int NonRedPixels(QWidget* widget)
{
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            count += qGreen(p) > qRed(p) / 4 + 8 || qBlue(p) > qRed(p) / 4 + 8;
        }
    }
    return count;
}

}  // namespace tavro::test
