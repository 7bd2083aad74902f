// tavro-control-tool: the hand controller for the mount. It takes no
// command-line options of its own; everything comes from the settings file.

#include "ui/control_app.h"

int main(int argc, char** argv)
{
    CControlApp app(argc, argv);
    app.InitInstance();
    return 0;
}
