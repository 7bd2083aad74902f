// The window's goto run on a simulated line and clock: the progress display
// at chosen ticks, the completion's effects, a second goto, a target beyond
// the pole, and a window that goes away while the goto runs.
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <thread>

#include "tests/ui/control_dlg_test_util.h"

using tavro::test::ControlDlgHarness;

namespace {

QProgressBar* Bar(CControlDlg& dlg, int id)
{
    return qobject_cast<QProgressBar*>(dlg.Control(id));
}

QLabel* TimeLeft(CControlDlg& dlg)
{
    return qobject_cast<QLabel*>(dlg.Control(IDC_TIME_LEFT));
}

QStringList PointTexts(CControlDlg& dlg, const PointFields& f)
{
    return {dlg.Edit(f.raH)->text(),  dlg.Edit(f.raM)->text(),  dlg.Edit(f.raS)->text(),
            dlg.SignList(f.decSign)->currentText(), dlg.Edit(f.decD)->text(),
            dlg.Edit(f.decM)->text(), dlg.Edit(f.decS)->text()};
}

// Waits (real time, without running the window's events, so its timer
// cannot tick) until `done` holds.
template <typename Pred>
bool WaitFor(Pred done, int timeoutMs = 5000)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A connected window whose line answers no step frame until told to: the
// goto's worker waits for the board while the test moves the clock.
struct GotoFixture {
    GotoFixture()
    {
        h.Start();
        h.Connect();
        h.m_line.BlockWhenIdle(true);
        h.m_line.AnswerStepFrames(-1);
    }

    void SetNext(const QString& ra, const QString& sign, const QString& dec)
    {
        h.Type(IDC_NEXT_RA_H, ra);
        h.Type(IDC_NEXT_RA_M, "0");
        h.Type(IDC_NEXT_RA_S, "0");
        h.Dlg().SignList(IDC_NEXT_DEC_SIGN)->setCurrentIndex(sign == "-" ? 1 : 0);
        h.Type(IDC_NEXT_DEC_D, dec);
        h.Type(IDC_NEXT_DEC_M, "0");
        h.Type(IDC_NEXT_DEC_S, "0");
    }

    // Clicks "Goto >" and waits until the worker waits for the board's
    // answer to its first frame (its pauses have moved the clock by then).
    void StartGoto()
    {
        const size_t purges = h.m_line.PurgeTimes().size();
        auto* gotoButton = qobject_cast<QPushButton*>(h.Dlg().Control(IDC_GOTO));
        QVERIFY(gotoButton->isEnabled());
        gotoButton->click();
        QVERIFY(WaitFor([&] { return h.m_line.PurgeTimes().size() > purges; }));
    }

    // Lets the board answer every frame from now on (after the pause that
    // follows a frame, whose purge would take an earlier answer away).
    void AnswerAll()
    {
        h.m_line.AnswerStepFrames(100);
        h.m_line.Inject(h.m_clock.TickCount(), {'-'});
    }

    // Runs one tick of the goto timer at `now`.
    void TickAt(uint32_t now)
    {
        h.m_clock.Set(now);
        h.Dlg().OnTimer(h.Dlg().m_nTimerId);
    }

    ControlDlgHarness h;
};

}  // namespace

class GotoRunTest : public QObject {
    Q_OBJECT

private slots:
    // EQ-5 at speed 76 from (0 h, +0) to (2 h, +10): 123 s of RA travel and
    // 44 s of Dec travel.
    void progressAtChosenTicksAndCompletion()
    {
        GotoFixture f;
        CControlDlg& dlg = f.h.Dlg();
        f.SetNext("2", "+", "10");
        f.StartGoto();

        QVERIFY(dlg.m_bGotoRunning);
        QVERIFY(dlg.m_nTimerId != 0);
        QCOMPARE(dlg.m_dwRaEnd - dlg.m_dwGotoStart, 123000u);
        QCOMPARE(dlg.m_dwDecEnd - dlg.m_dwGotoStart, 44000u);
        QVERIFY(dlg.m_dwGotoStart <= f.h.m_clock.TickCount());
        QVERIFY(TimeLeft(dlg)->isVisibleTo(&dlg));
        QCOMPARE(TimeLeft(dlg)->text(), QString("Estimated time left:"));
        QVERIFY(!dlg.Control(IDC_GOTO)->isEnabled());
        QVERIFY(!dlg.Control(IDC_RA_PLUS)->isEnabled());
        QVERIFY(!dlg.Control(IDC_DISCONNECT)->isEnabled());
        QVERIFY(dlg.Control(IDCANCEL)->isEnabled());
        // Goto mode, then the first frame: 5812 steps on both axes, RA+ Dec+.
        QCOMPARE(QString::fromStdString(f.h.m_line.Hex()), QString("63 68 00 16 B4 EC"));

        const uint32_t s = dlg.m_dwGotoStart;
        struct Tick {
            uint32_t at;
            int ra, dec;
            const char* text;
        };
        const Tick ticks[] = {
            {s + 200, 1, 4, "Estimated time left: 2 min 2 sec"},
            {s + 400, 3, 9, "Estimated time left: 2 min 2 sec"},   // text kept
            {s + 600, 4, 13, "Estimated time left: 2 min 2 sec"},
            {s + 800, 6, 18, "Estimated time left: 2 min 2 sec"},
            {s + 1000, 8, 22, "Estimated time left: 2 min 2 sec"},
            {s + 61500, 500, 1000, "Estimated time left: 1 min 1 sec"},   // fifth tick
            {s + 62000, 504, 1000, "Estimated time left: 1 min 1 sec"},
            {s + 90000, 731, 1000, "Estimated time left: 1 min 1 sec"},
            {s + 120000, 975, 1000, "Estimated time left: 1 min 1 sec"},
            {s + 122999, 999, 1000, "Estimated time left: 1 min 1 sec"},
            {s + 124000, 1000, 1000, "Estimated time left: 0 min 0 sec"},   // tenth
            {s + 130000, 1000, 1000, "Estimated time left: 0 min 0 sec"},
        };
        for (const Tick& t : ticks) {
            f.TickAt(t.at);
            QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), t.ra);
            QCOMPARE(Bar(dlg, IDC_PROGRESS_DEC)->value(), t.dec);
            QCOMPARE(TimeLeft(dlg)->text(), QString(t.text));
        }
        QCOMPARE(dlg.m_nTimerTicks, 12u);
        QVERIFY(dlg.m_bGotoRunning);   // only the completion ends the goto

        f.AnswerAll();
        QTRY_VERIFY(!dlg.m_bGotoRunning);
        QCOMPARE(dlg.m_nTimerId, 0);
        QVERIFY(!TimeLeft(dlg)->isVisibleTo(&dlg));
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 1000);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_DEC)->value(), 1000);
        QCOMPARE(PointTexts(dlg, kCurrentPointFields),
                 QStringList({"2", "0", "0", "+", "10", "0", "0"}));
        QCOMPARE(PointTexts(dlg, kNextPointFields),
                 QStringList({"2", "0", "0", "+", "10", "0", "0"}));
        QVERIFY(dlg.Control(IDC_GOTO)->isEnabled());
        QVERIFY(dlg.Control(IDC_RA_PLUS)->isEnabled());
        QVERIFY(dlg.Control(IDC_DISCONNECT)->isEnabled());
        // The rest of the RA travel followed the first frame.
        QVERIFY(QString::fromStdString(f.h.m_line.Hex())
                    .startsWith("63 68 00 16 B4 EC 68 00 2C 39 FD"));
    }

    // No RA travel: the RA bar is full at the first tick of the real timer.
    void zeroRaEstimateFillsAtFirstTick()
    {
        GotoFixture f;
        CControlDlg& dlg = f.h.Dlg();
        f.SetNext("0", "+", "10");
        f.StartGoto();
        QCOMPARE(dlg.m_dwRaEnd, dlg.m_dwGotoStart);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 0);
        // The timer runs by itself every 200 ms.
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_nTimerTicks >= 1, 2000);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 1000);
        const int32_t decLeft = static_cast<int32_t>(dlg.m_dwDecEnd - f.h.m_clock.TickCount());
        QCOMPARE(TimeLeft(dlg)->text(),
                 QString("Estimated time left: 0 min %1 sec").arg(decLeft / 1000));
        f.AnswerAll();
        QTRY_VERIFY(!dlg.m_bGotoRunning);
    }

    // A second goto keeps the bars and the text of the first until its own
    // first tick.
    void secondGotoKeepsOldDisplayUntilFirstTick()
    {
        GotoFixture f;
        CControlDlg& dlg = f.h.Dlg();
        f.SetNext("1", "+", "5");
        f.StartGoto();
        f.TickAt(dlg.m_dwGotoStart + 1500);
        const QString firstText = TimeLeft(dlg)->text();
        QCOMPARE(firstText, QString("Estimated time left: 0 min 59 sec"));   // of 61 s
        f.AnswerAll();
        QTRY_VERIFY(!dlg.m_bGotoRunning);

        f.h.m_line.AnswerStepFrames(-1);
        f.SetNext("3", "-", "5");
        f.StartGoto();
        QVERIFY(TimeLeft(dlg)->isVisibleTo(&dlg));
        QCOMPARE(TimeLeft(dlg)->text(), firstText);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 1000);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_DEC)->value(), 1000);
        QCOMPARE(dlg.m_nTimerTicks, 0u);

        f.TickAt(dlg.m_dwGotoStart + 200);
        QVERIFY(Bar(dlg, IDC_PROGRESS_RA)->value() < 10);
        QVERIFY(Bar(dlg, IDC_PROGRESS_DEC)->value() < 10);
        QVERIFY(TimeLeft(dlg)->text() != firstText);
        f.AnswerAll();
        QTRY_VERIFY(!dlg.m_bGotoRunning);
        QCOMPARE(PointTexts(dlg, kCurrentPointFields),
                 QStringList({"3", "0", "0", "-", "5", "0", "0"}));
    }

    // Degrees 90 with arc minutes pass the field limits but not the
    // planner: nothing moves, the display says so and the goto ends at once.
    void targetBeyondThePoleEndsAtOnce()
    {
        GotoFixture f;
        CControlDlg& dlg = f.h.Dlg();
        f.SetNext("5", "+", "90");
        f.h.Type(IDC_NEXT_DEC_M, "30");
        QVERIFY(dlg.Control(IDC_GOTO)->isEnabled());
        qobject_cast<QPushButton*>(dlg.Control(IDC_GOTO))->click();
        QVERIFY(dlg.m_bGotoRunning);
        QCOMPARE(dlg.m_dwRaEnd, dlg.m_dwGotoStart);
        QCOMPARE(dlg.m_dwDecEnd, dlg.m_dwGotoStart);
        QCOMPARE(TimeLeft(dlg)->text(), QString("Estimated time left: 0 min 0 sec"));
        QTRY_VERIFY(!dlg.m_bGotoRunning);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 1000);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_DEC)->value(), 1000);
        QVERIFY(!TimeLeft(dlg)->isVisibleTo(&dlg));
        // The RA was taken, the Dec beyond the pole was not.
        QCOMPARE(PointTexts(dlg, kCurrentPointFields),
                 QStringList({"0", "0", "0", "+", "0", "0", "0"}));
        QVERIFY(!QString::fromStdString(f.h.m_line.Hex()).contains("68"));
        QVERIFY(dlg.Control(IDC_GOTO)->isEnabled());
    }

    // The window goes away while the worker waits for the board: the
    // controller's destructor aborts the goto, whose completion comes on
    // this thread to a window being torn down and must be left alone.
    void windowDestroyedWhileGotoWaits()
    {
        GotoFixture f;
        f.SetNext("4", "+", "20");
        f.StartGoto();
        const auto before = std::chrono::steady_clock::now();
        f.h.m_dlg.reset();
        const auto took = std::chrono::steady_clock::now() - before;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        // Disconnect waited its 1000 ms, then aborted, then left goto mode.
        QVERIFY(took >= std::chrono::milliseconds(1000));
        QVERIFY(took < std::chrono::milliseconds(3000));
        QVERIFY(f.h.m_line.Cancels() >= 1);
        QVERIFY(QString::fromStdString(f.h.m_line.Hex()).endsWith("71 00"));
        QCOMPARE(f.h.m_line.Closes(), 1);
    }

    // The board answers while the window is being destroyed: the worker's
    // completion comes from the worker thread during the destructor's wait.
    void goToEndsDuringWindowDestruction()
    {
        GotoFixture f;
        f.SetNext("4", "+", "20");
        f.StartGoto();
        std::thread board([&f] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            f.AnswerAll();
        });
        const auto before = std::chrono::steady_clock::now();
        f.h.m_dlg.reset();
        const auto took = std::chrono::steady_clock::now() - before;
        board.join();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(took < std::chrono::milliseconds(1000));   // no abort was needed
        QCOMPARE(f.h.m_line.Cancels(), size_t(0));
        QVERIFY(QString::fromStdString(f.h.m_line.Hex()).endsWith("71 00"));
    }

    // Closed (hidden) but not yet destroyed: the completion still brings
    // the window to the idle state.
    void closedWindowTakesTheCompletion()
    {
        GotoFixture f;
        CControlDlg& dlg = f.h.Dlg();
        dlg.show();
        f.SetNext("1", "+", "0");
        f.StartGoto();
        dlg.reject();
        QVERIFY(!dlg.isVisible());
        f.AnswerAll();
        QTRY_VERIFY(!dlg.m_bGotoRunning);
        QCOMPARE(dlg.m_nTimerId, 0);
        QCOMPARE(PointTexts(dlg, kCurrentPointFields),
                 QStringList({"1", "0", "0", "+", "0", "0", "0"}));
    }
};

QTEST_MAIN(GotoRunTest)
#include "goto_run_test.moc"
