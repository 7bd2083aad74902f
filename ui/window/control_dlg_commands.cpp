// The main control window's commands: connect, disconnect, K3CCD Mode, the
// hold buttons' dispatch, and the enable rules that follow every command.

#include <QRadioButton>

#include "mount/link_messages.h"
#include "ui/window/control_dlg.h"
#include "ui/widgets/hold_button.h"

void CControlDlg::OnConnect()
{
    const uint32_t code = m_controller.Connect(m_nComPort);
    // The open port says whether the connection stands, not the code.
    if (!m_controller.Connected()) {
        ShowError(QString::fromStdString(
            tavro::ConnectErrorText(m_controller.Port(), m_controller.Ports(), code)));
    }
    UpdateControls();
    WatchLink();
}

void CControlDlg::WatchLink()
{
    if (m_controller.Connected()) {
        if (!m_linkWatch.isActive())
            m_linkWatch.start(kLinkWatchMs, this);
    } else {
        m_linkWatch.stop();
    }
}

void CControlDlg::CheckLinkAfterCommand()
{
    if (m_controller.LinkLost())
        OnLinkLost();
}

void CControlDlg::OnLinkLost()
{
    // The port is let go at once (there is no one to send the disconnect
    // exchange to), the window shows the disconnected state, and the message
    // comes once: the watch stops with the port.
    const int port = m_controller.Port();
    m_controller.Disconnect();
    WatchLink();
    UpdateControls();
    ShowError(QString::fromStdString(tavro::LinkLostText(port, m_controller.Ports())));
}

void CControlDlg::OnDisconnect()
{
    m_controller.Disconnect();
    WatchLink();
    UpdateControls();
}

void CControlDlg::OnK3CCDMode()
{
    // Leaves the board in its guide mode and the port free for the K3CCD
    // program.
    m_controller.EnterK3CCDMode();
    WatchLink();
    UpdateControls();
}

tavro::MoveSpeed CControlDlg::SpeedIndex() const
{
    if (qobject_cast<QRadioButton*>(Control(IDC_SPEED_FAST))->isChecked())
        return tavro::MoveSpeed::Fast;
    if (qobject_cast<QRadioButton*>(Control(IDC_SPEED_GOTO))->isChecked())
        return tavro::MoveSpeed::Goto;
    return tavro::MoveSpeed::Slow;
}

void CControlDlg::OnHoldButtonDown(CHoldButton* button)
{
    const tavro::MoveSpeed speed = SpeedIndex();
    const int id = ControlId(button);
    if (const std::optional<tavro::MoveDirection> direction = SlewDirectionOf(id))
        m_controller.StartMove(*direction, speed);
    switch (id) {
    case IDC_PAUSE: m_controller.Pause(); break;
    case IDC_FOCUS_SLOW_PLUS: m_controller.StartFocus(false, false); break;
    case IDC_FOCUS_SLOW_MINUS: m_controller.StartFocus(true, false); break;
    case IDC_FOCUS_FAST_PLUS: m_controller.StartFocus(false, true); break;
    case IDC_FOCUS_FAST_MINUS: m_controller.StartFocus(true, true); break;
    default: break;
    }
    FollowHoldButtonDown(id, speed);
    CheckLinkAfterCommand();
}

void CControlDlg::OnHoldButtonUp(CHoldButton* button)
{
    const int id = ControlId(button);
    if (id >= IDC_FIRST_HOLD_BUTTON && id <= IDC_LAST_HOLD_BUTTON)
        m_controller.StopMotion();
    FollowRelease();
    CheckLinkAfterCommand();
}

void CControlDlg::UpdateControls()
{
    const bool connected = m_controller.Connected();
    // A stop still on the line keeps the window as during a goto.
    const bool idle = !m_gotoSession.Running() && !m_bLineBusy;
    const bool ready = connected && idle;
    QWidget* focusBefore = focusWidget();

    const auto enable = [this](int id, bool on) { Control(id)->setEnabled(on); };
    enable(IDC_CONNECT, !connected);
    enable(IDC_DISCONNECT, ready);
    enable(IDC_GOTO, ready && AllCoordinatesValid());
    for (int id : {IDC_FOCUS_SLOW_PLUS, IDC_FOCUS_SLOW_MINUS, IDC_FOCUS_FAST_PLUS,
                   IDC_FOCUS_FAST_MINUS, IDC_DEC_PLUS, IDC_DEC_MINUS, IDC_RA_PLUS, IDC_RA_MINUS,
                   IDC_PAUSE, IDC_SPEED_GOTO, IDC_SPEED_SLOW, IDC_SPEED_FAST})
        enable(id, ready);
    enable(IDC_OPTIONS, idle);
    enable(IDC_K3CCD_MODE, ready);
    m_pAddStarAction->setEnabled(ready);
    m_pClearAlignmentAction->setEnabled(ready);

    // The control that had the focus was disabled (the toolkit has passed
    // the focus on to its neighbour): "Exit" takes it. Before the window is
    // first shown the initial focus is left to the dialog.
    if (isVisible()) {
        QWidget* focus = focusWidget();
        if (!focus || !focus->isEnabled() || (focusBefore && !focusBefore->isEnabled()))
            Control(IDCANCEL)->setFocus(Qt::OtherFocusReason);
    }
}

void CControlDlg::UpdateSpeedLabels()
{
    const bool eq5 = m_controller.Settings().Eq5();
    qobject_cast<QRadioButton*>(Control(IDC_SPEED_SLOW))
        ->setText(eq5 ? QStringLiteral("2.5x") : QStringLiteral("4x"));
    qobject_cast<QRadioButton*>(Control(IDC_SPEED_FAST))
        ->setText(eq5 ? QStringLiteral("10x") : QStringLiteral("8x"));
}
