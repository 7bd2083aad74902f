// tavro-control-tool: the hand controller for the mount. It takes no
// command-line options of its own; everything comes from the settings file.

#include "ui/control_app.h"

int main(int argc, char** argv)
{
    CControlApp app(argc, argv);
    app.InitInstance();
    // Ended by a signal: say so in the exit status, as a shell would.
    return app.QuitSignal() != 0 ? 128 + app.QuitSignal() : 0;
}
