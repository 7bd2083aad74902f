// tavro-control-tool: the hand controller for the mount. Its settings come
// from the settings file; the command line's options (ui/app/command_line.h)
// are for one run.

#include <cstdio>
#include <cstdlib>

#include "ui/app/control_app.h"
#include "ui/app/command_line.h"

int main(int argc, char** argv)
{
    // --help and --version are answered before the window system is
    // reached, so that they work without a display. Anything else, errors
    // included, is read once the application has taken the toolkit's own
    // options (-platform and the like).
    CControlApp::SetNames();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const tavro::ui::CommandLine early = tavro::ui::ParseCommandLine(arguments);
        early.exitStatus == 0) {
        std::fputs(qPrintable(early.text), stdout);
        return 0;
    }

    CControlApp app(argc, argv);
    if (const std::optional<int> status = app.ParseCommandLine())
        return *status;
#ifdef TAVRO_E2E_UTC_OFFSET
    // The end-to-end tests' build only: the window's clock of the sky moved
    // by the seconds the test gives.
    if (const char* offset = std::getenv("TAVRO_E2E_UTC_OFFSET"))
        app.SetUtcOffset(std::strtod(offset, nullptr));
#endif
    app.InitInstance();
    // Ended by a signal: say so in the exit status, as a shell would.
    return app.QuitSignal() != 0 ? 128 + app.QuitSignal() : 0;
}
