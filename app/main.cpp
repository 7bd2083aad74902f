// tavro-control-tool: the hand controller for the mount. Its settings come
// from the settings file; the command line's options (ui/command_line.h)
// are for one run.

#include "ui/control_app.h"

int main(int argc, char** argv)
{
    CControlApp app(argc, argv);
    if (const std::optional<int> status = app.ParseCommandLine())
        return *status;
    app.InitInstance();
    // Ended by a signal: say so in the exit status, as a shell would.
    return app.QuitSignal() != 0 ? 128 + app.QuitSignal() : 0;
}
