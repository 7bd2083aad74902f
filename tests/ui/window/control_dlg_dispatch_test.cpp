// The hold buttons' dispatch: from a press and release of each button, with
// the speed chosen by the radio buttons, to the bytes on the line and their
// simulated times.

#include <QRadioButton>
#include <QTest>

#include "tests/support/line_trace.h"
#include "tests/ui/control_dlg_test_util.h"
#include "ui/widgets/hold_button.h"

using tavro::test::ControlDlgHarness;

class ControlDlgDispatchTest : public QObject {
    Q_OBJECT
private slots:
    void pressAndReleaseByMouse_data();
    void pressAndReleaseByMouse();
    void spaceHeldWithAutoRepeatIsOneSlew();
    void aSecondPressStopsTheFirstMotion();
    void aReleaseLongAfterThePressStopsAtOnce();
    void reportsOfOtherButtonsDoNothing();
};

void ControlDlgDispatchTest::pressAndReleaseByMouse_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("speed");
    QTest::addColumn<QString>("trace");

    // Manual mode "a" (61) comes first, the command byte at once after it,
    // and the stop "jj" 140 ms after the command's tick.
    QTest::newRow("Ra + slow") << IDC_RA_PLUS << IDC_SPEED_SLOW << "0:61 0:3C 140:6A6A";
    QTest::newRow("Ra - slow") << IDC_RA_MINUS << IDC_SPEED_SLOW << "0:61 0:3E 140:6A6A";
    QTest::newRow("Dec + slow") << IDC_DEC_PLUS << IDC_SPEED_SLOW << "0:61 0:5E 140:6A6A";
    QTest::newRow("Dec - slow") << IDC_DEC_MINUS << IDC_SPEED_SLOW << "0:61 0:59 140:6A6A";
    QTest::newRow("Ra + fast") << IDC_RA_PLUS << IDC_SPEED_FAST << "0:61 0:41 140:6A6A";
    QTest::newRow("Ra - fast") << IDC_RA_MINUS << IDC_SPEED_FAST << "0:61 0:44 140:6A6A";
    QTest::newRow("Dec + fast") << IDC_DEC_PLUS << IDC_SPEED_FAST << "0:61 0:57 140:6A6A";
    QTest::newRow("Dec - fast") << IDC_DEC_MINUS << IDC_SPEED_FAST << "0:61 0:58 140:6A6A";
    QTest::newRow("Ra + goto speed") << IDC_RA_PLUS << IDC_SPEED_GOTO << "0:61 0:4A 140:6A6A";
    QTest::newRow("Ra - goto speed") << IDC_RA_MINUS << IDC_SPEED_GOTO << "0:61 0:4C 140:6A6A";
    QTest::newRow("Dec + goto speed") << IDC_DEC_PLUS << IDC_SPEED_GOTO << "0:61 0:49 140:6A6A";
    QTest::newRow("Dec - goto speed") << IDC_DEC_MINUS << IDC_SPEED_GOTO << "0:61 0:2C 140:6A6A";
    QTest::newRow("Pause") << IDC_PAUSE << IDC_SPEED_FAST << "0:61 0:6F 140:6A6A";
    QTest::newRow("Slow +") << IDC_FOCUS_SLOW_PLUS << IDC_SPEED_GOTO << "0:61 0:39 140:6A6A";
    QTest::newRow("Slow -") << IDC_FOCUS_SLOW_MINUS << IDC_SPEED_SLOW << "0:61 0:30 140:6A6A";
    QTest::newRow("Fast +") << IDC_FOCUS_FAST_PLUS << IDC_SPEED_SLOW << "0:61 0:28 140:6A6A";
    QTest::newRow("Fast -") << IDC_FOCUS_FAST_MINUS << IDC_SPEED_FAST << "0:61 0:29 140:6A6A";
}

void ControlDlgDispatchTest::pressAndReleaseByMouse()
{
    QFETCH(int, button);
    QFETCH(int, speed);
    QFETCH(QString, trace);

    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    const uint32_t start = h.m_clock.TickCount();
    qobject_cast<QRadioButton*>(dlg.Control(speed))->setChecked(true);

    QTest::mousePress(dlg.HoldButton(button), Qt::LeftButton);
    QVERIFY(h.m_line.Writes().empty());   // the press is posted, not handled at once
    h.Deliver();
    QTest::mouseRelease(dlg.HoldButton(button), Qt::LeftButton);
    h.Deliver();
    QCOMPARE(QString::fromStdString(tavro::test::Trace(h.m_line, start)), trace);
    // The stop pauses 30 ms after "jj".
    QCOMPARE(h.m_clock.TickCount() - start, 170u);
}

void ControlDlgDispatchTest::spaceHeldWithAutoRepeatIsOneSlew()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    const uint32_t start = h.m_clock.TickCount();
    CHoldButton* button = dlg.HoldButton(IDC_DEC_MINUS);
    QTest::keyPress(button, Qt::Key_Space);
    h.Deliver();
    for (int i = 0; i < 5; ++i) {
        h.m_clock.Advance(33);
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
        QApplication::sendEvent(button, &up);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
        QApplication::sendEvent(button, &down);
        h.Deliver();
    }
    h.m_clock.Advance(335);
    QTest::keyRelease(button, Qt::Key_Space);
    h.Deliver();
    QCOMPARE(QString::fromStdString(tavro::test::Trace(h.m_line, start)),
             QStringLiteral("0:61 0:59 500:6A6A"));
}

void ControlDlgDispatchTest::aSecondPressStopsTheFirstMotion()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    const uint32_t start = h.m_clock.TickCount();
    // Mouse on "Ra +" and, 40 ms later, Space on "Dec +": the controller
    // stops the slew after its minimum time before it starts the next one.
    QTest::mousePress(dlg.HoldButton(IDC_RA_PLUS), Qt::LeftButton);
    h.Deliver();
    h.m_clock.Advance(40);
    QTest::keyPress(dlg.HoldButton(IDC_DEC_PLUS), Qt::Key_Space);
    h.Deliver();
    QTest::keyRelease(dlg.HoldButton(IDC_DEC_PLUS), Qt::Key_Space);
    h.Deliver();
    QTest::mouseRelease(dlg.HoldButton(IDC_RA_PLUS), Qt::LeftButton);
    h.Deliver();
    QCOMPARE(QString::fromStdString(tavro::test::Trace(h.m_line, start)),
             QStringLiteral("0:61 0:3C 140:6A6A 170:5E 310:6A6A"));
}

void ControlDlgDispatchTest::aReleaseLongAfterThePressStopsAtOnce()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    const uint32_t start = h.m_clock.TickCount();
    QTest::mousePress(dlg.HoldButton(IDC_PAUSE), Qt::LeftButton);
    h.Deliver();
    h.m_clock.Advance(500);
    QTest::mouseRelease(dlg.HoldButton(IDC_PAUSE), Qt::LeftButton);
    h.Deliver();
    QCOMPARE(QString::fromStdString(tavro::test::Trace(h.m_line, start)),
             QStringLiteral("0:61 0:6F 500:6A6A"));
}

void ControlDlgDispatchTest::reportsOfOtherButtonsDoNothing()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    // A hold button that is not one of the nine (no template id).
    auto* stray = new CHoldButton(QStringLiteral("?"), &dlg);
    QTest::mouseClick(stray, Qt::LeftButton);
    h.Deliver();
    QVERIFY(h.m_line.Writes().empty());
    QCOMPARE(dlg.Controller().Mode(), MODE_NONE);
}

QTEST_MAIN(ControlDlgDispatchTest)
#include "control_dlg_dispatch_test.moc"
