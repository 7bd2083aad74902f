// The goto run of the main control window: the Goto command, the progress
// timer and the completion that the goto worker reports back.

#include <QLabel>
#include <QMetaObject>
#include <QPointer>
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
    m_controller.SetCurrentPoint(curRa, curDec);

    // The estimate writes nothing for a target Dec beyond +-90 degrees; that
    // goto moves nothing and ends at once, so it shows as one without travel.
    int raSeconds = -1;
    int decSeconds = -1;
    m_controller.EstimateGoto(nextRa, nextDec, &raSeconds, &decSeconds);
    const bool noTravel = raSeconds < 0 && decSeconds < 0;

    const tavro::ui::GotoTicks ticks =
        tavro::ui::MakeGotoTicks(m_clock.TickCount(), raSeconds, decSeconds);
    m_dwGotoStart = ticks.start;
    m_nTimerTicks = 0;
    m_dwRaEnd = ticks.raEnd;
    m_dwDecEnd = ticks.decEnd;
    m_gotoCourse = {{curRa, curDec}, {nextRa, nextDec}, raSeconds, decSeconds, ticks.start};

    m_pGotoTimer->Start(kGotoTimerMs, [this] { OnTimer(kGotoTimerId); });

    // The text keeps what it last held until the first tick, and the bars
    // keep their positions; only a goto that cannot move says so at once.
    auto* timeLeft = qobject_cast<QLabel*>(Control(IDC_TIME_LEFT));
    if (noTravel)
        timeLeft->setText(QString::fromStdString(tavro::ui::TimeLeftText(0)));
    timeLeft->show();

    if (!m_controller.StartGoto(nextRa, nextDec, GotoDoneCallback, this)) {
        // No worker: nothing moves and no completion will come. The window
        // stays as it was, idle, and says why.
        m_pGotoTimer->Stop();
        timeLeft->hide();
        UpdateControls();
        ShowError(QStringLiteral("The goto could not be started: the system could not start its "
                                 "worker thread."));
        return;
    }

    m_bGotoRunning = true;
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

void CControlDlg::OnGotoDone()
{
    m_pGotoTimer->Stop();
    Control(IDC_TIME_LEFT)->hide();
    m_bGotoRunning = false;
    // A goto or sync the link kept back while this goto finished is taken.
    PostLineFreeNotice();
    if (m_controller.LinkLost()) {
        // The goto did not reach its target: the bars stay where they were
        // and the current point is not changed.
        OnLinkLost();
        return;
    }
    qobject_cast<QProgressBar*>(Control(IDC_PROGRESS_RA))->setValue(tavro::ui::kProgressMax);
    qobject_cast<QProgressBar*>(Control(IDC_PROGRESS_DEC))->setValue(tavro::ui::kProgressMax);
    const CMountController::Point reached = m_controller.CurrentPoint();
    WritePoint(reached.ra, reached.dec, kCurrentPointFields);
    UpdateControls();
}

void CControlDlg::OnGotoCompletion()
{
    // Completions come in the order their gotos ended; one the planetarium
    // link has already shown is the oldest still queued.
    if (m_nGotoCompletionsTaken > 0) {
        --m_nGotoCompletionsTaken;
        return;
    }
    OnGotoDone();
}

void GotoDoneCallback(void* window)
{
    // Runs on the goto worker, or on the window's own thread when the
    // controller aborts the goto (its destructor, with the window going
    // away). Widgets belong to the window's thread, so the completion is
    // queued there; if the window is gone by then, Qt drops the call, and
    // the guard leaves a window alone that is already being torn down.
    auto* dlg = static_cast<CControlDlg*>(window);
    QPointer<CControlDlg> guard(dlg);
    QMetaObject::invokeMethod(
        dlg,
        [guard] {
            if (guard)
                guard->OnGotoCompletion();
        },
        Qt::QueuedConnection);
}
