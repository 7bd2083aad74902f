// The main control window's stored settings: the port, connect-on-start and
// the controller's mount settings, in the window's settings file.

#include "settings/settings_store.h"
#include "ui/control_dlg.h"

void CControlDlg::LoadSettings()
{
    ::LoadSettings(m_settingsPath, m_nComPort, m_bConnectOnStart, m_controller);
}

void CControlDlg::SaveSettings()
{
    ::SaveSettings(m_settingsPath, m_nComPort, m_bConnectOnStart, m_controller);
}
