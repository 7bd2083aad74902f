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

}  // namespace

bool CControlDlg::LinkMayAct() const
{
    const QWidget* modal = QApplication::activeModalWidget();
    return !modal || modal == this;
}

void CControlDlg::SyncToFields()
{
    for (int id : {IDC_CUR_RA_H, IDC_CUR_RA_M, IDC_CUR_RA_S, IDC_CUR_DEC_D, IDC_CUR_DEC_M,
                   IDC_CUR_DEC_S}) {
        if (!IsCoordinateValid(id))
            return;
    }
    const SkyPoint stored = m_gotoSession.SkyOf(m_controller.CurrentPoint());
    double ra = stored.ra;
    double dec = stored.dec;
    ReadPoint(&ra, &dec, kCurrentPointFields);
    const SkyPoint fields{tavro::WrapRa(ra), dec};
    if (m_fieldsPoint && m_fieldsPoint->ra == fields.ra && m_fieldsPoint->dec == fields.dec)
        return;
    m_fieldsPoint = fields;
    m_gotoSession.Sync(fields);
}

std::optional<tavro::MoveDirection> CControlDlg::SlewDirectionOf(int id)
{
    switch (id) {
    case IDC_RA_PLUS: return tavro::MoveDirection::RaPlus;
    case IDC_RA_MINUS: return tavro::MoveDirection::RaMinus;
    case IDC_DEC_PLUS: return tavro::MoveDirection::DecPlus;
    case IDC_DEC_MINUS: return tavro::MoveDirection::DecMinus;
    default: return std::nullopt;
    }
}

void CControlDlg::FollowHoldButtonDown(int id, tavro::MoveSpeed speed)
{
    if (!m_controller.Moving())
        return;
    // A slew starts from the Current point the operator gave, or from
    // where the last goto or slew left the mount.
    SyncToFields();
    if (id == IDC_PAUSE) {
        m_gotoSession.StopTracking();
        return;
    }
    const std::optional<tavro::MoveDirection> direction = SlewDirectionOf(id);
    if (!direction)
        return;  // the focuser does not move the mount
    m_gotoSession.StartSlew(*direction,
                            tavro::SlewRate(tavro::SpeedsOf(m_controller), speed, *direction));
}

void CControlDlg::FollowRelease()
{
    FollowRelease(m_clock.TickCount());
}

void CControlDlg::FollowRelease(uint32_t releasedAt)
{
    m_gotoSession.StopSlew(releasedAt);
    m_gotoSession.StartTracking(releasedAt);
}

SkyPoint CControlDlg::Position()
{
    if (m_gotoSession.Running() && !m_gotoSession.WorkerRunning()) {
        // Ended, its end on the way to the window: where the controller has
        // the mount now.
        return m_gotoSession.SkyOf(m_controller.CurrentPoint());
    }
    // The estimate: the goto under way, or the Current point with the
    // slews made since (a slew the link or a disconnect ended without a
    // button's release ends here).
    if (!m_gotoSession.Running())
        SyncToFields();
    if (m_gotoSession.Slewing() && !m_controller.Moving())
        FollowRelease();
    return m_gotoSession.Position();
}

bool CControlDlg::GotoFinishing()
{
    if (!m_gotoSession.WorkerRunning())
        return false;
    const tavro::GotoCourse& course = m_gotoSession.Course();
    const uint32_t now = m_clock.TickCount();
    return tavro::GotoFraction(now, course.startTick, course.raSeconds) >= 1.0 &&
           tavro::GotoFraction(now, course.startTick, course.decSeconds) >= 1.0;
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
    return m_gotoSession.WorkerRunning();
}

std::string CControlDlg::Goto(const SkyPoint& target)
{
    // A goto whose worker has ended is shown as ended before a client acts
    // on its reported end.
    m_gotoSession.TakeEnd();
    if (!m_controller.Connected())
        return "not connected";
    if (m_gotoSession.Running())
        return "a goto is running";
    if (!LinkMayAct())
        return "a dialog is open";
    auto* button = qobject_cast<QPushButton*>(Control(IDC_GOTO));
    const SkyPoint point = FieldPoint(target);
    WritePoint(point.ra, point.dec, kNextPointFields);
    if (!button->isEnabled())
        return "Goto is disabled";
    // The client judges its own targets: the window's guards do not ask.
    m_bLinkGoto = true;
    button->click();
    m_bLinkGoto = false;
    return m_gotoSession.Running() ? std::string() : std::string("the goto did not start");
}

std::string CControlDlg::Sync(const SkyPoint& point)
{
    m_gotoSession.TakeEnd();
    if (m_gotoSession.Running())
        return "a goto is running";
    if (!LinkMayAct())
        return "a dialog is open";
    const SkyPoint fields = FieldPoint(point);
    if (m_gotoSession.Model().Active()) {
        // A planetarium's sync is an alignment point; the fields then show
        // it without being taken again as a sync of their own.
        const tavro::AddOutcome outcome = m_gotoSession.AddAlignmentPoint(point);
        if (!outcome.Accepted())
            return outcome.message;
        WritePoint(fields.ra, fields.dec, kCurrentPointFields);
        m_fieldsPoint = fields;
        // Kept from the event loop: a failed save's message box must not
        // hold the planetarium's answer back.
        QMetaObject::invokeMethod(
            this,
            [this] {
                KeepAlignment();
                UpdateTitle();
            },
            Qt::QueuedConnection);
        return {};
    }
    WritePoint(fields.ra, fields.dec, kCurrentPointFields);
    return {};
}

void CControlDlg::SetSite(double latitude, double longitudeEast)
{
    m_gotoSession.SetSite(tavro::Site{latitude, longitudeEast});
    UpdateTitle();
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
    // A goto is cut short at once, at the point it had come to; the board
    // is taken back to command level as Disconnect takes it, with the port
    // kept, off the window's thread. The goto's end then shows the idle
    // window with that point.
    if (m_gotoSession.AbortNow([this] { OnEndDone(); })) {
        m_bLineBusy = true;
        UpdateControls();
        return;
    }
    // A slew, pause or focuser run in force stops as on a button's release.
    if (m_controller.Moving())
        StopSlewInBackground();
}

void CControlDlg::StopSlewInBackground()
{
    // The slew ends where the stop was asked for: the tick is taken before
    // the stop's thread starts, since its pause after "jj" moves the clock
    // on at a moment this thread cannot know.
    const uint32_t releasedAt = m_clock.TickCount();
    if (!m_bLineBusy && m_controller.Moving())
        RunEndInBackground(CMountController::EndVerb::StopMotion, std::nullopt);
    FollowRelease(releasedAt);
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
    if (!m_gotoSession.Running())
        CheckLinkAfterCommand();
}

void CControlDlg::ShowLinkState(const std::string& words)
{
    m_linkWords = words;
    UpdateTitle();
}
