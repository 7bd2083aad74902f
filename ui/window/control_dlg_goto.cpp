// The goto run of the main control window: the Goto command, the progress
// timer and the goto's end as the goto session tells it.

#include <QLabel>
#include <QProgressBar>

#include "ui/window/control_dlg.h"
#include "ui/widgets/goto_progress.h"

namespace {

constexpr int kGotoTimerMs = 200;
constexpr int kGotoTimerId = 1;

}  // namespace

void CControlDlg::OnGoto()
{
    double curRa = 0.0;
    double curDec = 0.0;
    double nextRa = 0.0;
    double nextDec = 0.0;
    ReadPoint(&curRa, &curDec, kCurrentPointFields);
    ReadPoint(&nextRa, &nextDec, kNextPointFields);
    // The goto starts from the Current point as the fields say it.
    m_gotoSession.Sync({curRa, curDec});
    m_fieldsPoint = tavro::SkyPoint{curRa, curDec};

    // The progress display is readied before the worker runs, from the
    // plan the worker sends.
    auto* timeLeft = qobject_cast<QLabel*>(Control(IDC_TIME_LEFT));
    auto showProgress = [this, timeLeft](const tavro::GotoPlan& plan, uint32_t startTick) {
        // A target beyond a pole has no travel: that goto moves nothing and
        // ends at once, so it shows as one without travel.
        const int raSeconds = plan.moves ? plan.raSeconds : -1;
        const int decSeconds = plan.moves ? plan.decSeconds : -1;
        const tavro::ui::GotoTicks ticks = tavro::ui::MakeGotoTicks(startTick, raSeconds, decSeconds);
        m_dwGotoStart = ticks.start;
        m_nTimerTicks = 0;
        m_dwRaEnd = ticks.raEnd;
        m_dwDecEnd = ticks.decEnd;
        m_pGotoTimer->Start(kGotoTimerMs, [this] { OnTimer(kGotoTimerId); });
        // The text keeps what it last held until the first tick, and the
        // bars keep their positions; only a goto that cannot move says so at
        // once.
        if (!plan.moves)
            timeLeft->setText(QString::fromStdString(tavro::ui::TimeLeftText(0)));
        timeLeft->show();
    };
    if (!m_gotoSession.Start({nextRa, nextDec}, [this](tavro::GotoEnd end) { OnGotoDone(end); },
                             showProgress)) {
        // No worker: nothing moves and no end will come. The window stays
        // as it was, idle, and says why.
        m_pGotoTimer->Stop();
        timeLeft->hide();
        UpdateControls();
        ShowError(QStringLiteral("The goto could not be started: the system could not start its "
                                 "worker thread."));
        return;
    }
    UpdateControls();
}

void CControlDlg::OnTimer(int id)
{
    if (id != kGotoTimerId || !m_pGotoTimer->IsActive())
        return;
    const tavro::ui::GotoTicks ticks{m_dwGotoStart, m_dwRaEnd, m_dwDecEnd};
    const tavro::ui::ProgressFrame frame =
        tavro::ui::ProgressAt(m_clock.TickCount(), ticks, m_nTimerTicks);
    qobject_cast<QProgressBar*>(Control(IDC_PROGRESS_RA))->setValue(frame.raPos);
    qobject_cast<QProgressBar*>(Control(IDC_PROGRESS_DEC))->setValue(frame.decPos);
    if (frame.refreshText)
        qobject_cast<QLabel*>(Control(IDC_TIME_LEFT))->setText(QString::fromStdString(frame.text));
    ++m_nTimerTicks;
}

void CControlDlg::OnGotoDone(tavro::GotoEnd end)
{
    m_pGotoTimer->Stop();
    Control(IDC_TIME_LEFT)->hide();
    // A goto or sync the link kept back while this goto finished is taken.
    PostLineFreeNotice();
    if (end == tavro::GotoEnd::LinkLost) {
        // The goto did not reach its target: the bars stay where they were
        // and the current point is not changed.
        OnLinkLost();
        return;
    }
    qobject_cast<QProgressBar*>(Control(IDC_PROGRESS_RA))->setValue(tavro::ui::kProgressMax);
    qobject_cast<QProgressBar*>(Control(IDC_PROGRESS_DEC))->setValue(tavro::ui::kProgressMax);
    // Where the controller has the mount (the target, or where a stop cut
    // the goto short), on the sky.
    const tavro::SkyPoint reached = m_gotoSession.SkyOf(m_controller.CurrentPoint());
    WritePoint(reached.ra, reached.dec, kCurrentPointFields);
    // The fields round to whole seconds; the estimate keeps the point
    // itself and takes the fields again only when they change.
    double ra = reached.ra;
    double dec = reached.dec;
    ReadPoint(&ra, &dec, kCurrentPointFields);
    m_fieldsPoint = tavro::SkyPoint{ra, dec};
    UpdateControls();
}
