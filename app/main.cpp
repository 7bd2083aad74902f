// tavro-control-tool: the hand controller for the mount. Its settings come
// from the settings file; the options below change them for one run only.

#include <QCommandLineOption>
#include <QCommandLineParser>

#include "ui/control_app.h"

int main(int argc, char** argv)
{
    CControlApp app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Hand controller for motorised equatorial telescope mounts."));
    parser.addHelpOption();
    parser.addVersionOption();
    // One option each, read after process() below.
    const QCommandLineOption planetarium(
        QStringLiteral("planetarium"),
        QStringLiteral("Planetarium link for this run: listen on ADDRESS:PORT, or off "
                       "(in place of [Planetarium] Listen of the settings file)."),
        QStringLiteral("ADDRESS:PORT|off"));
    parser.addOption(planetarium);
    parser.process(app);

    if (parser.isSet(planetarium))
        app.SetPlanetariumListen(parser.value(planetarium).toStdString());

    app.InitInstance();
    // Ended by a signal: say so in the exit status, as a shell would.
    return app.QuitSignal() != 0 ? 128 + app.QuitSignal() : 0;
}
