// The main control window as the planetarium link's Panel: what a
// planetarium asks for is done through the window's own controls and
// dispatch (the Next and Current point fields, the Goto button, the hold
// buttons, the speed buttons), and refused when the control is disabled or
// another window of the program is open over this one.

#include <QApplication>
#include <QMetaObject>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <cmath>

#include "ui/window/control_dlg.h"
#include "ui/window/control_dlg_template.h"
#include "ui/widgets/hold_button.h"

using tavro::SkyPoint;
using tavro::lx200::Direction;
using tavro::lx200::Rate;

namespace {

int HoldButtonOf(Direction direction)
{
    switch (direction) {
    case Direction::North: return IDC_DEC_PLUS;
    case Direction::South: return IDC_DEC_MINUS;
    case Direction::East: return IDC_RA_PLUS;
    case Direction::West: return IDC_RA_MINUS;
    }
    return 0;
}

int SpeedButtonOf(Rate rate)
{
    switch (rate) {
    case Rate::Guide:
    case Rate::Centre: return IDC_SPEED_SLOW;
    case Rate::Find: return IDC_SPEED_FAST;
    case Rate::Slew: return IDC_SPEED_GOTO;
    }
    return 0;
}

// The point as the fields hold it: whole seconds, RA below 24 h (a value
// that rounds to 24 h is 0 h), Dec within +-90 degrees.
SkyPoint FieldPoint(const SkyPoint& point)
{
    const long long raSeconds = std::llround(tavro::WrapRa(point.ra) * 3600.0) % (24 * 3600);
    const double dec = std::clamp(point.dec, -90.0, 90.0);
    return {static_cast<double>(raSeconds) / 3600.0,
            static_cast<double>(std::llround(dec * 3600.0)) / 3600.0};
}

}  // namespace

bool CControlDlg::LinkMayAct() const
{
    const QWidget* modal = QApplication::activeModalWidget();
    return !modal || modal == this;
}

SkyPoint CControlDlg::Position()
{
    if (m_bGotoRunning) {
        if (m_controller.GotoRunning())
            return tavro::GotoPointAt(m_gotoCourse, m_clock.TickCount());
        // Ended, its completion on the way to the window: where the
        // controller has the mount now.
        return m_controller.CurrentPoint();
    }
    for (int id : {IDC_CUR_RA_H, IDC_CUR_RA_M, IDC_CUR_RA_S, IDC_CUR_DEC_D, IDC_CUR_DEC_M,
                   IDC_CUR_DEC_S}) {
        if (!IsCoordinateValid(id))
            return m_controller.CurrentPoint();
    }
    const CMountController::Point stored = m_controller.CurrentPoint();
    double ra = stored.ra;
    double dec = stored.dec;
    ReadPoint(&ra, &dec, kCurrentPointFields);
    return {tavro::WrapRa(ra), dec};
}

bool CControlDlg::GotoFinishing()
{
    if (!m_bGotoRunning || !m_controller.GotoRunning())
        return false;
    const uint32_t now = m_clock.TickCount();
    return tavro::GotoFraction(now, m_gotoCourse.startTick, m_gotoCourse.raSeconds) >= 1.0 &&
           tavro::GotoFraction(now, m_gotoCourse.startTick, m_gotoCourse.decSeconds) >= 1.0;
}

void CControlDlg::PostLineFreeNotice()
{
    // The link takes its waiting commands up from the event loop, so after
    // a lost link has been dealt with (and while its message is open); not
    // if a stop holds the line by then.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_bLineBusy && m_lineFreeNotice)
                m_lineFreeNotice();
        },
        Qt::QueuedConnection);
}

bool CControlDlg::GotoRunning()
{
    return m_bGotoRunning && m_controller.GotoRunning();
}

void CControlDlg::TakeGotoCompletion()
{
    // The worker has ended and its completion is queued for the window: the
    // link already reports the goto as over, at its target, so a client that
    // acts on that must find the window idle. The completion is shown now;
    // the queued one then finds it done.
    if (!m_bGotoRunning || m_controller.GotoRunning())
        return;
    ++m_nGotoCompletionsTaken;
    OnGotoDone();
}

std::string CControlDlg::Goto(const SkyPoint& target)
{
    TakeGotoCompletion();
    if (!m_controller.m_hPort)
        return "not connected";
    if (m_bGotoRunning)
        return "a goto is running";
    if (!LinkMayAct())
        return "a dialog is open";
    auto* button = qobject_cast<QPushButton*>(Control(IDC_GOTO));
    const SkyPoint point = FieldPoint(target);
    WritePoint(point.ra, point.dec, kNextPointFields);
    if (!button->isEnabled())
        return "Goto is disabled";
    button->click();
    return m_bGotoRunning ? std::string() : std::string("the goto did not start");
}

std::string CControlDlg::Sync(const SkyPoint& point)
{
    TakeGotoCompletion();
    if (m_bGotoRunning)
        return "a goto is running";
    if (!LinkMayAct())
        return "a dialog is open";
    const SkyPoint fields = FieldPoint(point);
    WritePoint(fields.ra, fields.dec, kCurrentPointFields);
    return {};
}

bool CControlDlg::PressSlew(Direction direction)
{
    CHoldButton* button = HoldButton(HoldButtonOf(direction));
    if (!LinkMayAct() || !button->isEnabled())
        return false;
    m_nLinkHeldButton = HoldButtonOf(direction);
    OnHoldButtonDown(button);
    return true;
}

void CControlDlg::ReleaseSlew(Direction direction)
{
    const int id = HoldButtonOf(direction);
    if (m_nLinkHeldButton != id)
        return;
    m_nLinkHeldButton = 0;
    StopSlewInBackground();
}

bool CControlDlg::ChooseRate(Rate rate)
{
    auto* button = qobject_cast<QRadioButton*>(Control(SpeedButtonOf(rate)));
    if (!LinkMayAct() || !button->isEnabled())
        return false;
    button->click();
    return true;
}

void CControlDlg::StopAll()
{
    m_nLinkHeldButton = 0;
    if (m_bLineBusy)
        return;  // a stop is on the line already
    if (m_bGotoRunning && m_controller.GotoRunning()) {
        // Cut short at once, at the point the goto had come to; the board
        // is taken back to command level as Disconnect takes it, with the
        // port kept. The exchange runs on the controller's command thread;
        // the goto's completion then shows the idle window with that point.
        const SkyPoint reached = tavro::GotoPointAt(m_gotoCourse, m_clock.TickCount());
        RunEndInBackground(CMountController::EndVerb::AbortGoto, CMountController::Point{reached.ra, reached.dec});
        return;
    }
    // A slew, pause or focuser run in force stops as on a button's release.
    if (m_controller.Moving())
        StopSlewInBackground();
}

void CControlDlg::StopSlewInBackground()
{
    if (!m_bLineBusy && m_controller.Moving())
        RunEndInBackground(CMountController::EndVerb::StopMotion, std::nullopt);
}

void CControlDlg::RunEndInBackground(CMountController::EndVerb verb,
                                     std::optional<CMountController::Point> reached)
{
    // The window's thread never waits on the line: while the exchange runs
    // the controls that would use it are disabled, as during a goto, and the
    // end comes back as a queued call, as the goto's completion does.
    // The controller, a member, ends the command thread before the window
    // stops being a QObject; a call queued to a window that is gone by then
    // is dropped by Qt.
    CControlDlg* dlg = this;
    const bool started = m_controller.RunEnd(
        verb,
        [dlg](bool) { QMetaObject::invokeMethod(dlg, [dlg] { dlg->OnEndDone(); }, Qt::QueuedConnection); },
        reached);
    if (!started)
        return;
    m_bLineBusy = true;
    UpdateControls();
}

void CControlDlg::OnEndDone()
{
    m_bLineBusy = false;
    UpdateControls();
    PostLineFreeNotice();
    // A goto that was cut short reports a lost link in its own completion.
    if (!m_bGotoRunning)
        CheckLinkAfterCommand();
}

void CControlDlg::ShowLinkState(const std::string& words)
{
    QString title = QString::fromUtf8(tavro::ui::kControlDlgCaption);
    if (!words.empty())
        title += QStringLiteral(" \u2014 ") + QString::fromStdString(words);
    setWindowTitle(title);
}
