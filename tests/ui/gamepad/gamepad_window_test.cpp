// The gamepad at the main window, end to end in one process: a controller
// made by SDL (no hardware) drives the window, which is connected to the
// board simulator on a pseudo-terminal; the bytes are checked where the
// board receives them.

#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <memory>

#include "tests/ui/control_dlg_test_util.h"
#include "tests/ui/gamepad/virtual_pad.h"
#include "tools/boardsim/board_simulator.h"
#include "ui/gamepad/gamepad.h"
#include "ui/widgets/hold_button.h"

using tavro::sim::BoardSimulator;
using tavro::test::CTestControlDlg;
using tavro::test::VirtualPad;
using tavro::ui::CGamepad;

namespace {

constexpr int kWaitMs = 10000;

// The simulator, the window connected to it at start-up, the gamepad and a
// controller plugged in.
class Rig {
public:
    bool Start(const char* gamepadGroup = "")
    {
        const std::string link = m_dir.filePath(QStringLiteral("board")).toStdString();
        const std::string settings = m_dir.filePath(QStringLiteral("options.ini")).toStdString();
        if (!m_sim.Start(link))
            return false;
        std::ofstream(settings) << "[Options]\nConnection=1\nConnectOnStart=1\n\n[Ports]\nCOM1=" << link << "\n"
                                << gamepadGroup;
        m_dlg = std::make_unique<CTestControlDlg>(settings, ControlDlgSeams{});
        m_dlg->InitialiseOnce();
        if (!m_dlg->Controller().m_hPort)
            return false;
        m_gamepad = tavro::ui::StartGamepad(*m_dlg, settings);
        if (!m_gamepad->WaitStarted(kWaitMs) || !m_pad.Plug())
            return false;
        // Found by the gamepad: the title names it.
        if (!QTest::qWaitFor([&] { return m_gamepad->Name() == "Tavro Test Pad"; }, kWaitMs))
            return false;
        m_sim.ClearLog();
        return true;
    }

    ~Rig()
    {
        m_pad.Unplug();
        m_gamepad.reset();
        m_dlg.reset();
    }

    // Everything the board received since the last ClearLog.
    QByteArray Bytes() const
    {
        QByteArray bytes;
        for (const tavro::sim::ReceivedByte& b : m_sim.Received()) bytes += static_cast<char>(b.byte);
        return bytes;
    }

    bool Checked(int id) const { return qobject_cast<QRadioButton*>(m_dlg->Control(id))->isChecked(); }

    QTemporaryDir m_dir;
    BoardSimulator m_sim;
    std::unique_ptr<CTestControlDlg> m_dlg;
    std::unique_ptr<CGamepad> m_gamepad;
    VirtualPad m_pad;
};

}  // namespace

class GamepadWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Manual mode, the slew byte for the direction and speed, "jj" on the
    // release; a deflection inside the dead zone sends nothing (the next
    // byte is the one of the deflection after it).
    void deflectionSlewsAndItsReleaseStops()
    {
        Rig rig;
        QVERIFY(rig.Start());
        QVERIFY(rig.m_dlg->windowTitle().endsWith(QStringLiteral(" \u2014 gamepad: Tavro Test Pad")));
        rig.m_pad.Stick(0.24, -0.24);
        QTRY_COMPARE_WITH_TIMEOUT(rig.m_gamepad->Held(), 0, kWaitMs);
        rig.m_pad.Stick(0.5, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("a>"), kWaitMs);
        QCOMPARE(rig.m_gamepad->Held(), IDC_RA_MINUS);
        QVERIFY(rig.m_dlg->HoldButton(IDC_RA_MINUS)->isDown());
        rig.m_pad.Stick(0.2, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("a>jj"), kWaitMs);
        QVERIFY(!rig.m_dlg->HoldButton(IDC_RA_MINUS)->isDown());
        rig.m_pad.Stick(0.0, -1.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("a>jjW"), kWaitMs);
        QVERIFY(rig.Checked(IDC_SPEED_FAST));
        rig.m_pad.Stick(0.0, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("a>jjWjj"), kWaitMs);
    }

    // The thresholds of the settings file: past DeadZone=0.4 slow, beyond
    // FastAbove=0.6 fast (the speed buttons follow), and back.
    void speedFollowsTheDeflection()
    {
        Rig rig;
        QVERIFY(rig.Start("\n[Gamepad]\nDeadZone=0.4\nFastAbove=0.6\n"));
        rig.m_pad.Stick(-0.39, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.m_gamepad->Held(), 0, kWaitMs);
        rig.m_pad.Stick(-0.45, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("a<"), kWaitMs);
        QVERIFY(rig.Checked(IDC_SPEED_SLOW));
        rig.m_pad.Stick(-0.65, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("a<jjA"), kWaitMs);
        QVERIFY(rig.Checked(IDC_SPEED_FAST));
        rig.m_pad.Stick(-0.55, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("a<jjAjj<"), kWaitMs);
        QVERIFY(rig.Checked(IDC_SPEED_SLOW));
        rig.m_pad.Stick(0.0, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("a<jjAjj<jj"), kWaitMs);
    }

    // The right shoulder forces fast on the D-pad and the focuser; its
    // release returns to slow.
    void shoulderForcesFast()
    {
        Rig rig;
        QVERIFY(rig.Start());
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, true);
        QTRY_VERIFY_WITH_TIMEOUT(rig.Checked(IDC_SPEED_FAST), kWaitMs);
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aW"), kWaitMs);
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aWjj^"), kWaitMs);
        QVERIFY(rig.Checked(IDC_SPEED_SLOW));
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aWjj^jj"), kWaitMs);
        // Triggers: focuser - slow, then + fast with the shoulder.
        rig.m_pad.Axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 0.8);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aWjj^jj0"), kWaitMs);
        rig.m_pad.Axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aWjj^jj0jj"), kWaitMs);
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, true);
        rig.m_pad.Axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 0.8);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aWjj^jj0jj("), kWaitMs);
        rig.m_pad.Axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aWjj^jj0jj(jj"), kWaitMs);
    }

    // Two axes at once: the larger one slews; when the other grows past it,
    // the board is stopped and the other direction started.
    void twoAxesAtOnce()
    {
        Rig rig;
        QVERIFY(rig.Start());
        rig.m_pad.Stick(0.5, 0.7);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aY"), kWaitMs);
        rig.m_pad.Stick(0.9, 0.7);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aYjjD"), kWaitMs);
        rig.m_pad.Stick(0.0, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aYjjDjj"), kWaitMs);
    }

    // B ends a slew, a pause and a focus run at once; the inputs still held
    // start nothing until they are let go.
    void stopEndsSlewPauseAndFocus_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<QByteArray>("started");
        QTest::newRow("slew") << 0 << QByteArray("aD");
        QTest::newRow("pause") << 1 << QByteArray("ao");
        QTest::newRow("focus") << 2 << QByteArray("a9");
    }

    void stopEndsSlewPauseAndFocus()
    {
        QFETCH(int, input);
        QFETCH(QByteArray, started);
        Rig rig;
        QVERIFY(rig.Start());
        const auto hold = [&](bool on) {
            if (input == 0)
                rig.m_pad.Stick(on ? 1.0 : 0.0, 0.0);
            else if (input == 1)
                rig.m_pad.Button(SDL_CONTROLLER_BUTTON_A, on);
            else
                rig.m_pad.Axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, on ? 1.0 : 0.0);
        };
        hold(true);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), started, kWaitMs);
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_B, true);
        const QByteArray stopped = rig.Bytes() + "jj";
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), stopped, kWaitMs);
        QCOMPARE(rig.m_gamepad->Held(), 0);
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_B, false);
        // Let go and used again: the motion starts anew.
        hold(false);
        QTRY_VERIFY_WITH_TIMEOUT(rig.m_gamepad->AtRest(), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.m_dlg->Controller().Moving(), false, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(rig.m_dlg->HoldButton(IDC_PAUSE)->isEnabled(), kWaitMs);
        hold(true);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), stopped + started.right(1), kWaitMs);
        hold(false);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), stopped + started.right(1) + "jj", kWaitMs);
    }

    // Start goes to the Next point; while the goto runs the stick does what
    // the window's buttons do then (nothing); B aborts the goto as the
    // planetarium's stop does: the board is taken out of goto mode and the
    // window is idle again, where the goto had come to. On the window's
    // simulated line, whose board leaves the first step frame unanswered.
    void startGoesToTheNextPointAndStopAbortsIt()
    {
        tavro::test::ControlDlgHarness h;
        CTestControlDlg& dlg = h.Start();
        QVERIFY(h.Connect());
        const auto gamepad = tavro::ui::StartGamepad(dlg, h.m_path);
        VirtualPad pad;
        QVERIFY(gamepad->WaitStarted(kWaitMs));
        QVERIFY(pad.Plug());
        QTRY_COMPARE_WITH_TIMEOUT(gamepad->Name(), std::string("Tavro Test Pad"), kWaitMs);
        h.SetNextPoint("2", "+", "10");
        h.m_line.BlockWhenIdle(true);
        h.m_line.AnswerStepFrames(-1);
        const uint32_t start = h.m_clock.TickCount();
        pad.Button(SDL_CONTROLLER_BUTTON_START, true);
        // The worker waits for the answer to its first frame.
        QTRY_VERIFY_WITH_TIMEOUT(!h.m_line.PurgeTimes().empty(), kWaitMs);
        QVERIFY(dlg.Controller().GotoRunning());
        QVERIFY(!dlg.Control(IDC_GOTO)->isEnabled());
        pad.Button(SDL_CONTROLLER_BUTTON_START, false);
        pad.Stick(1.0, 0.0);
        QTRY_VERIFY_WITH_TIMEOUT(!gamepad->AtRest(), kWaitMs);
        QCOMPARE(gamepad->Held(), 0);
        h.m_clock.Set(start + 61500);
        h.m_line.ClearRecord();
        pad.Button(SDL_CONTROLLER_BUTTON_B, true);
        // Out of goto mode, the port kept; nothing of the stick's.
        QTRY_COMPARE_WITH_TIMEOUT(h.m_line.Hex(), std::string("71 00"), kWaitMs);
        QVERIFY(h.WaitGotoDone(kWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Control(IDC_GOTO)->isEnabled(), kWaitMs);
        QVERIFY(dlg.Controller().m_hPort);
        QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->text(), QString("1"));
        QCOMPARE(h.m_line.Hex(), std::string("71 00"));
        pad.Unplug();
    }

    // Unplugged mid-slew: the slew stops within 100 ms at the board
    // (measured on the simulator's clock), and the title no longer names the
    // controller.
    void unplugStopsTheSlew()
    {
        Rig rig;
        QVERIFY(rig.Start());
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_DPAD_DOWN, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aY"), kWaitMs);
        // Past the board's minimum time of a motion, which a stop waits out.
        const uint64_t slewAt = rig.m_sim.Received().back().atUs;
        QTRY_VERIFY_WITH_TIMEOUT(rig.m_sim.NowUs() > slewAt + 300000, kWaitMs);
        const uint64_t unpluggedAt = rig.m_sim.NowUs();
        rig.m_pad.Unplug();
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aYjj"), kWaitMs);
        const uint64_t stopAt = rig.m_sim.Received()[2].atUs;
        qInfo("unplugged to the stop at the board: %.1f ms", (stopAt - unpluggedAt) / 1000.0);
        QVERIFY2(stopAt - unpluggedAt <= 100000,
                 qPrintable(QStringLiteral("the stop came %1 ms after the unplug").arg((stopAt - unpluggedAt) / 1000.0)));
        QTRY_COMPARE_WITH_TIMEOUT(rig.m_gamepad->Name(), std::string(), kWaitMs);
        QVERIFY(!rig.m_dlg->windowTitle().contains(QStringLiteral("gamepad")));
        QVERIFY(!rig.m_dlg->HoldButton(IDC_DEC_MINUS)->isDown());
        // Plugged in again: found, named, and it drives again.
        QVERIFY(rig.m_pad.Plug("Second Pad"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.m_dlg->windowTitle().endsWith(QStringLiteral("gamepad: Second Pad")), kWaitMs);
        rig.m_pad.Stick(-0.5, 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("aYjj<"), kWaitMs);
    }

    // The gamepad goes first at the program's end: the motion it holds is
    // released then (the unplug SDL's shut-down makes is never taken up by
    // the window's events, which do not run in between).
    void endingTheGamepadStopsItsMotion()
    {
        Rig rig;
        QVERIFY(rig.Start());
        rig.m_pad.Button(SDL_CONTROLLER_BUTTON_A, true);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Bytes(), QByteArray("ao"), kWaitMs);
        rig.m_pad.Unplug();
        rig.m_gamepad.reset();
        QCOMPARE(rig.Bytes(), QByteArray("aojj"));
        QVERIFY(rig.m_dlg->Controller().m_hPort);
    }
};

QTEST_MAIN(GamepadWindowTest)
#include "gamepad_window_test.moc"
