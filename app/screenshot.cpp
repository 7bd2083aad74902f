// tavro-screenshot: saves a picture of an X window (or of the whole screen)
// as PNG. The run command uses it to show what the program looks like when
// there is no display and the program runs under Xvfb.
//
//   tavro-screenshot OUTPUT.png [WINDOW-ID]

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: tavro-screenshot OUTPUT.png [WINDOW-ID]\n");
        return 2;
    }
    bool ok = true;
    const WId window = args.size() == 3 ? args[2].toULongLong(&ok, 0) : 0;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!ok || !screen) {
        std::fprintf(stderr, "tavro-screenshot: no such window or no screen\n");
        return 1;
    }
    const QPixmap picture = screen->grabWindow(window);
    if (picture.isNull() || !picture.save(args[1], "PNG")) {
        std::fprintf(stderr, "tavro-screenshot: cannot save %s\n", qPrintable(args[1]));
        return 1;
    }
    return 0;
}
