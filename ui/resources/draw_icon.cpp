// Draws the program's icon, a small telescope on its tripod, at the sizes
// the window system asks for, and saves them as telescope-<size>.png in the
// folder given as the only argument. The PNGs are committed; run this again
// (target tavro_draw_icon) only to change the drawing.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace {

QImage DrawTelescope(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // Tripod: three legs from the mount head.
    QPen leg(QColor(0x4a, 0x3a, 0x2a), 3.2, Qt::SolidLine, Qt::RoundCap);
    p.setPen(leg);
    p.drawLine(QPointF(32, 36), QPointF(16, 61));
    p.drawLine(QPointF(32, 36), QPointF(48, 61));
    p.drawLine(QPointF(32, 36), QPointF(32, 60));

    // Mount head.
    p.setPen(QPen(QColor(0x20, 0x20, 0x28), 1.5));
    p.setBrush(QColor(0x60, 0x66, 0x70));
    p.drawEllipse(QPointF(32, 35), 5, 5);

    // Tube, tilted up to the right.
    p.save();
    p.translate(32, 30);
    p.rotate(-32);
    QLinearGradient tube(0, -8, 0, 8);
    tube.setColorAt(0.0, QColor(0x9c, 0xc4, 0xf0));
    tube.setColorAt(0.5, QColor(0x2a, 0x62, 0xb8));
    tube.setColorAt(1.0, QColor(0x12, 0x30, 0x66));
    p.setBrush(tube);
    p.setPen(QPen(QColor(0x0c, 0x1c, 0x3c), 1.5));
    p.drawRoundedRect(QRectF(-22, -7, 42, 14), 3, 3);
    // Dew shield at the objective end.
    p.setBrush(QColor(0x1a, 0x1a, 0x22));
    p.drawRoundedRect(QRectF(18, -9, 10, 18), 2, 2);
    // Eyepiece.
    p.setBrush(QColor(0x30, 0x30, 0x38));
    p.drawRect(QRectF(-28, -3.5, 7, 7));
    p.restore();

    // A star.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd2, 0x3c));
    QPainterPath star;
    const QPointF c(54, 9);
    star.moveTo(c + QPointF(0, -7));
    star.quadTo(c, c + QPointF(7, 0));
    star.quadTo(c, c + QPointF(0, 7));
    star.quadTo(c, c + QPointF(-7, 0));
    star.quadTo(c, c + QPointF(0, -7));
    p.drawPath(star);
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    for (int size : {16, 32, 48, 64}) {
        if (!DrawTelescope(size).save(dir.filePath(QStringLiteral("telescope-%1.png").arg(size))))
            return 1;
    }
    return 0;
}
