#include "ui/app/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace tavro::ui {

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The hand controller for an equatorial telescope mount; its settings are "
                       "kept in the machine-wide settings file."));
    // Not addHelpOption(): its --help-all needs process(), which ends the
    // process itself.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays these options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption night(
        QStringLiteral("night"),
        QStringLiteral("Night vision (dim red on black) for this run; the saved setting stays as it is."));
    parser.addOption(night);
    const QCommandLineOption planetarium(
        QStringLiteral("planetarium"),
        QStringLiteral("Planetarium link for this run: listen on ADDRESS:PORT, or off "
                       "(in place of [Planetarium] Listen of the settings file)."),
        QStringLiteral("ADDRESS:PORT|off"));
    parser.addOption(planetarium);

    CommandLine result;
    const QString program = QCoreApplication::applicationName();
    auto error = [&](const QString& message) {
        result.exitStatus = 2;
        result.text = QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(program, message);
        return result;
    };
    if (!parser.parse(arguments))
        return error(parser.errorText());
    if (parser.isSet(help)) {
        result.exitStatus = 0;
        result.text = parser.helpText();
        // Without an application object the parser does not know the name.
        result.text.replace(QStringLiteral("<executable_name>"), program);
        return result;
    }
    if (parser.isSet(version)) {
        result.exitStatus = 0;
        result.text = QStringLiteral("%1 %2\n").arg(program, QCoreApplication::applicationVersion());
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return error(QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));

    result.options.nightVision = parser.isSet(night);
    if (parser.isSet(planetarium))
        result.options.planetariumListen = parser.value(planetarium).toStdString();
    return result;
}

}  // namespace tavro::ui
