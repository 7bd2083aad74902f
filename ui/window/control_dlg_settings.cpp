// The main control window's stored settings: the port, connect-on-start and
// the controller's mount settings, in the window's settings file.

#include "settings/settings_store.h"
#include "ui/window/control_dlg.h"

void CControlDlg::LoadSettings()
{
    ::LoadSettings(m_settingsPath, m_nComPort, m_bConnectOnStart, m_controller);
}

QString CControlDlg::SaveSettings()
{
    const std::optional<tavro::SaveFailure> failure =
        ::SaveSettings(m_settingsPath, m_nComPort, m_bConnectOnStart, m_controller);
    if (!failure)
        return QString();
    QString reason = QString::fromStdString(failure->reason);
    if (!reason.isEmpty())
        reason[0] = reason[0].toUpper();
    return QStringLiteral("The settings could not be saved to %1:\n%2.\nThey stay in force until the program ends.")
        .arg(QString::fromStdString(failure->path), reason);
}
