#pragma once
// A main control window on a simulated line and clock, with a settings file
// of its own, a progress timer the test fires itself, and the error box
// replaced by a record of its texts. Tests drive it through its controls.

#include <QAbstractButton>
#include <QByteArray>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QFile>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "tests/support/fake_port.h"
#include "ui/find/find_object_dlg.h"
#include "ui/window/control_dlg.h"

namespace tavro::test {

// Clicks an enabled push button of a window; false when it is not there or
// disabled.
[[nodiscard]] inline bool ClickButton(const CControlDlg& dlg, int id)
{
    auto* button = qobject_cast<QAbstractButton*>(dlg.Control(id));
    if (!button || !button->isEnabled())
        return false;
    button->click();
    return true;
}

// A progress timer that ticks only when the test fires it.
class FakeProgressTimer : public CProgressTimer {
public:
    void Start(int intervalMs, std::function<void()> tick) override
    {
        m_intervalMs = intervalMs;
        m_tick = std::move(tick);
        m_active = true;
    }
    void Stop() override { m_active = false; }
    bool IsActive() const override { return m_active; }

    // One tick, as the real timer would give it while started.
    void Fire()
    {
        if (m_active && m_tick)
            m_tick();
    }

    int m_intervalMs = 0;

private:
    std::function<void()> m_tick;
    bool m_active = false;
};

class CTestControlDlg : public CControlDlg {
public:
    // The UTC of the window's pointing model (2027-01-15 08:00 UTC): hour
    // angles and altitudes are the same at every run.
    static constexpr double kUtc = 1800000000.0;

    CTestControlDlg(const std::string& settingsPath, ControlDlgSeams seams)
        : CControlDlg(settingsPath, std::move(seams))
    {
        SetUtcNow([] { return kUtc; });
    }

    void ShowError(const QString& text) override
    {
        m_errors << text;
        // What the window showed while the box was open.
        m_connectEnabledAtError = Control(IDC_CONNECT)->isEnabled();
    }

    // The guards' questions are recorded and answered with m_goAnswer
    // (Yes unless a test says otherwise, so that a goto that happens to
    // go near the Sun goes ahead as it did before there were guards).
    bool AskToGo(const QString& text) override
    {
        m_questions << text;
        return m_realQuestions ? CControlDlg::AskToGo(text) : m_goAnswer;
    }

    // With m_driveFind set, "Find object" is shown without a modal loop
    // and driven by it; a dialog it leaves open is cancelled.
    int RunFindDialog(CFindObjectDlg& dlg) override
    {
        if (!m_driveFind)
            return CControlDlg::RunFindDialog(dlg);
        dlg.show();
        m_driveFind(dlg);
        if (dlg.isVisible())
            dlg.reject();
        return dlg.result();
    }

    QStringList m_errors;
    bool m_connectEnabledAtError = false;
    QStringList m_questions;
    bool m_goAnswer = true;
    bool m_realQuestions = false;   // the window's own message box asks
    std::function<void(CFindObjectDlg&)> m_driveFind;
};

class ControlDlgHarness {
public:
    ControlDlgHarness() : m_line(m_clock)
    {
        m_path = m_dir.filePath(QStringLiteral("options.ini")).toStdString();
    }

    // Writes the settings file the window loads at start-up.
    void WriteSettings(const QByteArray& ini)
    {
        QFile file(QString::fromStdString(m_path));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(ini);
    }

    // The seams of this harness: its clock, line and progress timer.
    ControlDlgSeams Seams()
    {
        ControlDlgSeams seams;
        seams.clock = &m_clock;
        seams.portFactory = m_line.Factory();
        seams.progressTimer = [this] {
            auto timer = std::make_unique<FakeProgressTimer>();
            m_timer = timer.get();
            return timer;
        };
        return seams;
    }

    // Builds the window and runs its start-up (as showing it would).
    CTestControlDlg& Start(ControlDlgSeams seams)
    {
        m_dlg = std::make_unique<CTestControlDlg>(m_path, std::move(seams));
        m_dlg->InitialiseOnce();
        return *m_dlg;
    }
    CTestControlDlg& Start() { return Start(Seams()); }

    [[nodiscard]] bool Click(int id) { return ClickButton(*m_dlg, id); }

    // Clicks "Connect" and forgets the configuration's traffic; false when
    // the window did not connect.
    [[nodiscard]] bool Connect()
    {
        if (!Click(IDC_CONNECT) || !m_dlg->Controller().m_hPort)
            return false;
        m_line.ClearRecord();
        return true;
    }

    // Empties a field and types a text into it key by key.
    void Type(int id, const QString& text)
    {
        QLineEdit* edit = m_dlg->Edit(id);
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    // Fills the Next point's fields: RA hours, Dec sign and degrees, the
    // rest zero.
    void SetNextPoint(const QString& raHours, const QString& sign, const QString& decDegrees)
    {
        Type(IDC_NEXT_RA_H, raHours);
        Type(IDC_NEXT_RA_M, QStringLiteral("0"));
        Type(IDC_NEXT_RA_S, QStringLiteral("0"));
        m_dlg->SignList(IDC_NEXT_DEC_SIGN)->setCurrentIndex(sign == QStringLiteral("-") ? 1 : 0);
        Type(IDC_NEXT_DEC_D, decDegrees);
        Type(IDC_NEXT_DEC_M, QStringLiteral("0"));
        Type(IDC_NEXT_DEC_S, QStringLiteral("0"));
    }

    // Clicks "Goto >" on a line that answers no step frame until told to,
    // and waits until the worker waits for the answer to its first frame
    // (its pauses have moved the clock by then). The tick of the click is
    // the goto's start, kept in m_gotoStart.
    [[nodiscard]] bool StartGoto()
    {
        m_line.BlockWhenIdle(true);
        m_line.AnswerStepFrames(-1);
        const size_t purges = m_line.PurgeTimes().size();
        m_gotoStart = m_clock.TickCount();
        if (!Click(IDC_GOTO))
            return false;
        return WaitReal([&] { return m_line.PurgeTimes().size() > purges; });
    }

    // Lets the board answer every frame from now on (after the pause that
    // follows a frame, whose purge would take an earlier answer away).
    void AnswerAll()
    {
        m_line.AnswerStepFrames(100);
        m_line.Inject(m_clock.TickCount(), {'-'});
    }

    // Runs the window's events until the goto's completion has come.
    [[nodiscard]] bool WaitGotoDone(int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (GotoRunning()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

    // Waits (real time, without running the window's events) until `done`.
    template <typename Pred>
    static bool WaitReal(Pred done, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(2);
        }
        return true;
    }

    // Fires the progress timer once at simulated tick `now`.
    void TickAt(uint32_t now)
    {
        m_clock.Set(now);
        m_timer->Fire();
    }

    // Delivers the posted hold-button reports.
    void Deliver() { QCoreApplication::sendPostedEvents(); }

    CTestControlDlg& Dlg() { return *m_dlg; }
    bool GotoRunning() const { return m_timer && m_timer->IsActive(); }

    SimulatedClock m_clock{100000};
    FakeLine m_line;
    QTemporaryDir m_dir;
    std::string m_path;
    FakeProgressTimer* m_timer = nullptr;   // owned by the window
    uint32_t m_gotoStart = 0;
    std::unique_ptr<CTestControlDlg> m_dlg;
};

}  // namespace tavro::test
