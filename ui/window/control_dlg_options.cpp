// The Options command of the main control window: the options dialog runs
// on the window's port, flag and controller; after OK the window takes the
// port and flag back, saves all nine values (telling the user when that
// fails), forgets the alignment when the mount model changed, and brings
// the board up to date.

#include "ui/window/control_dlg.h"
#include "ui/options/options_dlg.h"

int CControlDlg::RunOptionsDialog(COptionsDlg& dlg)
{
    return dlg.DoModal();
}

void CControlDlg::OnOptions()
{
    COptionsDlg dlg(this);
    dlg.m_nComPort = m_nComPort;
    dlg.m_bConnectOnStart = m_bConnectOnStart;
    dlg.m_pController = &m_controller;
    const tavro::MountModel modelBefore = m_controller.Settings().model;
    if (RunOptionsDialog(dlg) != IDOK)
        return;

    // OK has already written the mount settings into the controller.
    m_nComPort = dlg.m_nComPort;
    m_bConnectOnStart = dlg.m_bConnectOnStart;
    // A save that fails is told once; the settings are in force all the
    // same, and the board gets them.
    if (const QString error = SaveSettings(); !error.isEmpty())
        ShowError(error);
    // Another mount's errors are not this one's.
    if (m_controller.Settings().model != modelBefore)
        ForgetAlignment();

    if (m_controller.Connected()) {
        if (m_controller.Port() == m_nComPort) {
            // Same port: the board only needs the new settings.
            m_controller.SendConfiguration();
            CheckLinkAfterCommand();
        } else {
            // Another port: leave the old one; the connect on the new one
            // sends the configuration, or shows why it failed.
            m_controller.Disconnect();
            OnConnect();
        }
    }
    // Without a connection nothing is sent; the next connect uses the port.
    UpdateSpeedLabels();
}
