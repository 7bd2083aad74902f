// Night vision in the main control window: the "Night vision" check item of
// the window's context menu, also on Ctrl+N wherever the focus is in the
// window, and its setting, [Display] NightVision in the settings file.
//
// Ctrl+N is a window shortcut: it is taken before any control sees the key
// press, so it never reaches the keyboard control of the mount (no slew, no
// speed) nor a field (no character).

#include <QAction>
#include <QKeySequence>

#include "settings/settings_store.h"
#include "ui/window/control_dlg.h"
#include "ui/app/night_vision.h"

void CControlDlg::CreateNightVisionAction()
{
    m_pNightVisionAction = new QAction(QStringLiteral("Night vision"), this);
    m_pNightVisionAction->setCheckable(true);
    m_pNightVisionAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_pNightVisionAction->setShortcutContext(Qt::WindowShortcut);
    // Only the operator's choice is saved, not the start-up's.
    connect(m_pNightVisionAction, &QAction::triggered, this, &CControlDlg::OnNightVision);
    addAction(m_pNightVisionAction);
    // A right click on the window, or on a control that has no menu of its
    // own, shows the window's actions.
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void CControlDlg::LoadNightVision()
{
    // On for this run already (--night) stays on, whatever the file says.
    if (tavro::LoadNightVision(m_settingsPath).value_or(false))
        tavro::ui::SetNightVision(true);
    m_pNightVisionAction->setChecked(tavro::ui::NightVisionOn());
}

void CControlDlg::OnNightVision(bool on)
{
    tavro::ui::SetNightVision(on);
    const std::optional<tavro::SaveFailure> failure = tavro::SaveNightVision(m_settingsPath, on);
    if (!failure)
        return;
    QString reason = QString::fromStdString(failure->reason);
    if (!reason.isEmpty())
        reason[0] = reason[0].toUpper();
    ShowError(QStringLiteral("Night vision could not be saved to %1:\n%2.\nIt stays %3 until the program ends.")
                  .arg(QString::fromStdString(failure->path), reason,
                       on ? QStringLiteral("on") : QStringLiteral("off")));
}
