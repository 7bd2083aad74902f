#include "ui/control_app.h"

#include "settings/settings_path.h"
#include "ui/control_dlg.h"

CControlApp::CControlApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("tavro-control-tool"));
    setApplicationVersion(QStringLiteral("0.53"));
}

CControlApp::~CControlApp() = default;

bool CControlApp::InitInstance()
{
    CControlDlg dlg(SettingsFilePath());
    dlg.DoModal();
    return false;
}
