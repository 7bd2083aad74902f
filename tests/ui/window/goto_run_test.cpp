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

}  // namespace

class GotoRunTest : public QObject {
    Q_OBJECT

private slots:
    // EQ-5 at speed 76 from (0 h, +0) to (2 h, +10): 123 s of RA travel and
    // 44 s of Dec travel.
    void progressAtChosenTicksAndCompletion()
    {
        ControlDlgHarness h;
        h.Start();
        QVERIFY(h.Connect());
        CControlDlg& dlg = h.Dlg();
        h.SetNextPoint("2", "+", "10");
        QVERIFY(h.StartGoto());

        QVERIFY(h.GotoRunning());
        QCOMPARE(h.m_timer->m_intervalMs, 200);
        QVERIFY(h.m_gotoStart <= h.m_clock.TickCount());
        QVERIFY(TimeLeft(dlg)->isVisibleTo(&dlg));
        QCOMPARE(TimeLeft(dlg)->text(), QString("Estimated time left:"));
        QVERIFY(!dlg.Control(IDC_GOTO)->isEnabled());
        QVERIFY(!dlg.Control(IDC_RA_PLUS)->isEnabled());
        QVERIFY(!dlg.Control(IDC_DISCONNECT)->isEnabled());
        QVERIFY(dlg.Control(IDCANCEL)->isEnabled());
        // Goto mode, then the first frame: 5812 steps on both axes, RA+ Dec+.
        QCOMPARE(QString::fromStdString(h.m_line.Hex()), QString("63 68 00 16 B4 EC"));

        const uint32_t s = h.m_gotoStart;
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
            h.TickAt(t.at);
            QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), t.ra);
            QCOMPARE(Bar(dlg, IDC_PROGRESS_DEC)->value(), t.dec);
            QCOMPARE(TimeLeft(dlg)->text(), QString(t.text));
        }
        QVERIFY(h.GotoRunning());   // only the completion ends the goto

        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());
        QVERIFY(!h.m_timer->IsActive());
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
        QVERIFY(QString::fromStdString(h.m_line.Hex())
                    .startsWith("63 68 00 16 B4 EC 68 00 2C 39 FD"));
    }

    // No RA travel: the RA bar is full at the first tick of the real timer.
    void zeroRaEstimateFillsAtFirstTick()
    {
        ControlDlgHarness h;
        h.Start();
        QVERIFY(h.Connect());
        CControlDlg& dlg = h.Dlg();
        h.SetNextPoint("0", "+", "10");
        QVERIFY(h.StartGoto());
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 0);
        // The first tick of the 200 ms timer: 44 s of Dec travel less 0.2 s.
        QCOMPARE(h.m_timer->m_intervalMs, 200);
        h.TickAt(h.m_gotoStart + 200);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 1000);
        QCOMPARE(TimeLeft(dlg)->text(), QString("Estimated time left: 0 min 43 sec"));
        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());
    }

    // A second goto keeps the bars and the text of the first until its own
    // first tick.
    void secondGotoKeepsOldDisplayUntilFirstTick()
    {
        ControlDlgHarness h;
        h.Start();
        QVERIFY(h.Connect());
        CControlDlg& dlg = h.Dlg();
        h.SetNextPoint("1", "+", "5");
        QVERIFY(h.StartGoto());
        h.TickAt(h.m_gotoStart + 1500);
        const QString firstText = TimeLeft(dlg)->text();
        QCOMPARE(firstText, QString("Estimated time left: 0 min 59 sec"));   // of 61 s
        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());

        h.m_line.AnswerStepFrames(-1);
        h.SetNextPoint("3", "-", "5");
        QVERIFY(h.StartGoto());
        QVERIFY(TimeLeft(dlg)->isVisibleTo(&dlg));
        QCOMPARE(TimeLeft(dlg)->text(), firstText);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 1000);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_DEC)->value(), 1000);

        h.TickAt(h.m_gotoStart + 200);
        QVERIFY(Bar(dlg, IDC_PROGRESS_RA)->value() < 10);
        QVERIFY(Bar(dlg, IDC_PROGRESS_DEC)->value() < 10);
        QVERIFY(TimeLeft(dlg)->text() != firstText);
        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());
        QCOMPARE(PointTexts(dlg, kCurrentPointFields),
                 QStringList({"3", "0", "0", "-", "5", "0", "0"}));
    }

    // Degrees 90 with arc minutes pass the field limits but not the
    // planner: nothing moves, the display says so and the goto ends at once.
    void targetBeyondThePoleEndsAtOnce()
    {
        ControlDlgHarness h;
        h.Start();
        QVERIFY(h.Connect());
        CControlDlg& dlg = h.Dlg();
        h.SetNextPoint("5", "+", "90");
        h.Type(IDC_NEXT_DEC_M, "30");
        QVERIFY(dlg.Control(IDC_GOTO)->isEnabled());
        qobject_cast<QPushButton*>(dlg.Control(IDC_GOTO))->click();
        QVERIFY(h.GotoRunning());
        QCOMPARE(TimeLeft(dlg)->text(), QString("Estimated time left: 0 min 0 sec"));
        QVERIFY(h.WaitGotoDone());
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA)->value(), 1000);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_DEC)->value(), 1000);
        QVERIFY(!TimeLeft(dlg)->isVisibleTo(&dlg));
        // The RA was taken, the Dec beyond the pole was not.
        QCOMPARE(PointTexts(dlg, kCurrentPointFields),
                 QStringList({"0", "0", "0", "+", "0", "0", "0"}));
        QVERIFY(!QString::fromStdString(h.m_line.Hex()).contains("68"));
        QVERIFY(dlg.Control(IDC_GOTO)->isEnabled());
    }

    // The window goes away while the worker waits for the board: the
    // controller's destructor aborts the goto, whose completion comes on
    // this thread to a window being torn down and must be left alone.
    void windowDestroyedWhileGotoWaits()
    {
        ControlDlgHarness h;
        h.Start();
        QVERIFY(h.Connect());
        h.SetNextPoint("4", "+", "20");
        QVERIFY(h.StartGoto());
        const auto before = std::chrono::steady_clock::now();
        h.m_dlg.reset();
        const auto took = std::chrono::steady_clock::now() - before;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        // Disconnect waited its 1000 ms, then aborted, then left goto mode.
        QVERIFY(took >= std::chrono::milliseconds(1000));
        QVERIFY(took < std::chrono::milliseconds(3000));
        QVERIFY(h.m_line.Cancels() >= 1);
        QVERIFY(QString::fromStdString(h.m_line.Hex()).endsWith("71 00"));
        QCOMPARE(h.m_line.Closes(), 1);
    }

    // The board answers while the window is being destroyed: the worker's
    // completion comes from the worker thread during the destructor's wait.
    void goToEndsDuringWindowDestruction()
    {
        ControlDlgHarness h;
        h.Start();
        QVERIFY(h.Connect());
        h.SetNextPoint("4", "+", "20");
        QVERIFY(h.StartGoto());
        std::thread board([&h] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            h.AnswerAll();
        });
        const auto before = std::chrono::steady_clock::now();
        h.m_dlg.reset();
        const auto took = std::chrono::steady_clock::now() - before;
        board.join();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(took < std::chrono::milliseconds(1000));   // no abort was needed
        QCOMPARE(h.m_line.Cancels(), size_t(0));
        QVERIFY(QString::fromStdString(h.m_line.Hex()).endsWith("71 00"));
    }

    // Closed (hidden) but not yet destroyed: the completion still brings
    // the window to the idle state.
    void closedWindowTakesTheCompletion()
    {
        ControlDlgHarness h;
        h.Start();
        QVERIFY(h.Connect());
        CControlDlg& dlg = h.Dlg();
        dlg.show();
        h.SetNextPoint("1", "+", "0");
        QVERIFY(h.StartGoto());
        dlg.reject();
        QVERIFY(!dlg.isVisible());
        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());
        QVERIFY(!h.m_timer->IsActive());
        QCOMPARE(PointTexts(dlg, kCurrentPointFields),
                 QStringList({"1", "0", "0", "+", "0", "0", "0"}));
    }
};

QTEST_MAIN(GotoRunTest)
#include "goto_run_test.moc"
