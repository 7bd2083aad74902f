// The keyboard control in the window: keys on the slewing and focuser
// buttons become hold-button presses (bytes on a simulated line), speed keys
// choose the speed, and keys on other controls take their normal course.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "tests/ui/control_dlg_test_util.h"
#include "ui/widgets/hold_button.h"
#include "ui/widgets/key_repeat.h"

using tavro::test::ControlDlgHarness;

namespace {

// A connected window, shown and active. Each test checks `ready` first:
// a failed step here must end the test, not just the constructor.
struct KeysFixture {
    KeysFixture()
    {
        CControlDlg& dlg = h.Start();
        if (!h.Connect())
            return;
        dlg.show();
        dlg.activateWindow();
        ready = QTest::qWaitForWindowActive(&dlg);
    }

    // Gives the focus to a control; false when it did not take it.
    [[nodiscard]] bool Focus(int id)
    {
        h.Dlg().Control(id)->setFocus(Qt::OtherFocusReason);
        return h.Dlg().focusWidget() == h.Dlg().Control(id);
    }

    bool ready = false;

    // A key event as the window system delivers it: to the focused control.
    // A real release is held back for a moment (it might be the first half
    // of an auto-repeat pair), so the test waits for it to go on.
    void Key(QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
             bool autoRepeat = false, quint64 timestamp = 0)
    {
        QKeyEvent event(type, key, mods, QString(), autoRepeat);
        event.setTimestamp(timestamp);
        QApplication::sendEvent(h.Dlg().focusWidget(), &event);
        if (type == QEvent::KeyRelease && !autoRepeat && timestamp == 0)
            LetHeldBackReleaseGo();
        else
            DeliverPosted();
    }

    // Runs the window's events until a release held back has gone on (its
    // moment is over), then delivers what it posted. The state is waited
    // for, not a fixed time: on a busy machine a fixed wait can end before
    // the hold-back's timer has been served.
    void LetHeldBackReleaseGo()
    {
        CKeyRepeatJoiner* joiner = nullptr;
        for (QObject* child : h.Dlg().children()) {
            if (auto* j = dynamic_cast<CKeyRepeatJoiner*>(child))
                joiner = j;
        }
        if (joiner && !QTest::qWaitFor([joiner] { return !joiner->HoldsRelease(); }, 10000))
            QFAIL("the held-back release never went on");
        DeliverPosted();
    }

    // The re-posted Space, then the button's report.
    static void DeliverPosted()
    {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents();
    }

    void Press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) { Key(QEvent::KeyPress, key, mods); }
    void Release(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) { Key(QEvent::KeyRelease, key, mods); }

    // A key held through `repeats` auto-repeat periods, as X delivers it:
    // a press, then release/press pairs flagged as auto-repeat, then the
    // real release.
    void Hold(int key, int repeats)
    {
        Press(key);
        for (int i = 0; i < repeats; ++i) {
            Key(QEvent::KeyRelease, key, Qt::NoModifier, true);
            Key(QEvent::KeyPress, key, Qt::NoModifier, true);
        }
        Release(key);
    }

    // The same, with the pairs not flagged, as Qt delivers them when the
    // press of a pair had not yet been read as its release was handled:
    // only the shared timestamp tells them from real key strokes.
    void HoldUnflagged(int key, int repeats)
    {
        quint64 t = 5000;
        Key(QEvent::KeyPress, key, Qt::NoModifier, false, t);
        t += 660;
        for (int i = 0; i < repeats; ++i, t += 40) {
            Key(QEvent::KeyRelease, key, Qt::NoModifier, false, t);
            Key(QEvent::KeyPress, key, Qt::NoModifier, false, t);
        }
        Key(QEvent::KeyRelease, key, Qt::NoModifier, false, t + 15);
        LetHeldBackReleaseGo();
    }

    QString Wire() const { return QString::fromStdString(h.m_line.Hex()); }

    bool Checked(int id) { return qobject_cast<QRadioButton*>(h.Dlg().Control(id))->isChecked(); }

    ControlDlgHarness h;
};

}  // namespace

class KeysWindowTest : public QObject {
    Q_OBJECT

private slots:
    // Each key held on each focus gives one press and one release of its
    // target: the byte of the motion, then one "jj".
    void heldKeyIsOnePressAndOneRelease_data()
    {
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("keypad");
        QTest::addColumn<QString>("wire");
        QTest::newRow("Left on Pause: Ra +") << IDC_PAUSE << int(Qt::Key_Left) << false << "61 3C 6A 6A";
        QTest::newRow("Right on Pause: Ra -") << IDC_PAUSE << int(Qt::Key_Right) << false << "61 3E 6A 6A";
        QTest::newRow("Up on Ra +: Dec +") << IDC_RA_PLUS << int(Qt::Key_Up) << false << "61 5E 6A 6A";
        QTest::newRow("Down on Dec -: Dec -") << IDC_DEC_MINUS << int(Qt::Key_Down) << false << "61 59 6A 6A";
        QTest::newRow("keypad 4 on Dec +: Ra +") << IDC_DEC_PLUS << int(Qt::Key_Left) << true << "61 3C 6A 6A";
        QTest::newRow("keypad 5 on Ra -: Pause") << IDC_RA_MINUS << int(Qt::Key_Clear) << true << "61 6F 6A 6A";
        QTest::newRow("'0' on Ra +: Pause") << IDC_RA_PLUS << int(Qt::Key_0) << false << "61 6F 6A 6A";
        QTest::newRow("keypad 5 with Num Lock on: Pause") << IDC_PAUSE << int(Qt::Key_5) << true << "61 6F 6A 6A";
        QTest::newRow("Left on Slow -: Slow +") << IDC_FOCUS_SLOW_MINUS << int(Qt::Key_Left) << false << "61 39 6A 6A";
        QTest::newRow("Right on Slow +: Slow -") << IDC_FOCUS_SLOW_PLUS << int(Qt::Key_Right) << false << "61 30 6A 6A";
        QTest::newRow("Left on Fast -: Fast +") << IDC_FOCUS_FAST_MINUS << int(Qt::Key_Left) << false << "61 28 6A 6A";
        QTest::newRow("Right on Fast +: Fast -") << IDC_FOCUS_FAST_PLUS << int(Qt::Key_Right) << false << "61 29 6A 6A";
        QTest::newRow("Up on Slow -: not taken") << IDC_FOCUS_SLOW_MINUS << int(Qt::Key_Up) << false << "";
        QTest::newRow("Down on Fast +: not taken") << IDC_FOCUS_FAST_PLUS << int(Qt::Key_Down) << false << "";
        QTest::newRow("Left on an edit: not taken") << IDC_NEXT_RA_M << int(Qt::Key_Left) << false << "";
        QTest::newRow("Left on Goto speed: not taken") << IDC_SPEED_GOTO << int(Qt::Key_Left) << false << "";
        QTest::newRow("Left on Exit: not taken") << IDCANCEL << int(Qt::Key_Left) << false << "";
    }

    void heldKeyIsOnePressAndOneRelease()
    {
        QFETCH(int, focus);
        QFETCH(int, key);
        QFETCH(bool, keypad);
        QFETCH(QString, wire);
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(focus));
        const Qt::KeyboardModifiers mods = keypad ? Qt::KeypadModifier : Qt::NoModifier;
        f.Press(key, mods);
        if (wire.isEmpty()) {
            // A key that is not taken takes its normal course: on a button
            // an arrow moves the focus on, as in any dialog.
            f.Release(key, mods);
            QCOMPARE(f.Wire(), QString());
            return;
        }
        for (int i = 0; i < 20; ++i) {
            f.Key(QEvent::KeyRelease, key, mods, true);
            f.Key(QEvent::KeyPress, key, mods, true);
        }
        f.Release(key, mods);
        QCOMPARE(f.Wire(), wire);
        // The focus did not move, and no button is left held.
        QCOMPARE(f.h.Dlg().focusWidget(), f.h.Dlg().Control(focus));
        for (int id = IDC_FIRST_HOLD_BUTTON; id <= IDC_LAST_HOLD_BUTTON; ++id)
            QVERIFY(!f.h.Dlg().HoldButton(id)->m_bKeyHeld);
    }

    // The slew byte follows the chosen speed, and the release comes no
    // sooner than the motion's minimum time.
    void heldKeyAtGotoSpeed()
    {
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(IDC_PAUSE));
        f.Press(Qt::Key_3);
        f.Release(Qt::Key_3);
        f.Hold(Qt::Key_Left, 5);
        QCOMPARE(f.Wire(), QString("61 4A 6A 6A"));
        const auto writes = f.h.m_line.Writes();
        QVERIFY(writes.back().at - writes[1].at >= 140u);
    }

    void speedKeysOnKeyDownOnly()
    {
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(IDC_RA_PLUS));
        QVERIFY(f.Checked(IDC_SPEED_SLOW));
        f.Press(Qt::Key_3);
        QVERIFY(f.Checked(IDC_SPEED_GOTO));
        QVERIFY(!f.Checked(IDC_SPEED_SLOW));
        QVERIFY(!f.Checked(IDC_SPEED_FAST));
        f.Release(Qt::Key_3);
        QVERIFY(f.Checked(IDC_SPEED_GOTO));
        f.Press(Qt::Key_2, Qt::KeypadModifier);
        QVERIFY(f.Checked(IDC_SPEED_FAST));
        QVERIFY(!f.Checked(IDC_SPEED_GOTO));
        f.Release(Qt::Key_2, Qt::KeypadModifier);
        // A speed key up with another speed checked changes nothing.
        f.Release(Qt::Key_1);
        QVERIFY(f.Checked(IDC_SPEED_FAST));
        f.Press(Qt::Key_1);
        QVERIFY(f.Checked(IDC_SPEED_SLOW));
        QCOMPARE(f.h.Dlg().focusWidget(), f.h.Dlg().Control(IDC_RA_PLUS));
        QCOMPARE(f.Wire(), QString());
        // On a focuser button the digits do nothing.
        QVERIFY(f.Focus(IDC_FOCUS_FAST_PLUS));
        f.Press(Qt::Key_3);
        QVERIFY(f.Checked(IDC_SPEED_SLOW));
    }

    // With the focus on an edit, a digit is typed and the arrows move the
    // caret.
    void editKeepsItsKeys()
    {
        KeysFixture f;
        QVERIFY(f.ready);
        QLineEdit* edit = f.h.Dlg().Edit(IDC_NEXT_DEC_D);
        QVERIFY(f.Focus(IDC_NEXT_DEC_D));
        edit->clear();
        QTest::keyClick(edit, Qt::Key_1);
        QTest::keyClick(edit, Qt::Key_3);
        QCOMPARE(edit->text(), QString("13"));
        QVERIFY(f.Checked(IDC_SPEED_SLOW));
        QCOMPARE(edit->cursorPosition(), 2);
        QTest::keyClick(edit, Qt::Key_Left);
        QCOMPARE(edit->cursorPosition(), 1);
        QCOMPARE(f.Wire(), QString());
    }

    // Auto-repeat pairs that Qt did not flag: one press, one release.
    void unflaggedRepeatPairsAreJoined_data()
    {
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("wire");
        QTest::newRow("Left on Pause") << IDC_PAUSE << int(Qt::Key_Left) << "61 3C 6A 6A";
        QTest::newRow("Right on Slow +") << IDC_FOCUS_SLOW_PLUS << int(Qt::Key_Right) << "61 30 6A 6A";
        QTest::newRow("Space on Dec -") << IDC_DEC_MINUS << int(Qt::Key_Space) << "61 59 6A 6A";
    }

    void unflaggedRepeatPairsAreJoined()
    {
        QFETCH(int, focus);
        QFETCH(int, key);
        QFETCH(QString, wire);
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(focus));
        f.HoldUnflagged(key, 25);
        QCOMPARE(f.Wire(), wire);
        QCOMPARE(f.h.Dlg().focusWidget(), f.h.Dlg().Control(focus));
    }

    // Two real strokes of a key, released and pressed again with their own
    // timestamps, are two motions; so are two quick strokes of Space.
    void realStrokesStayApart()
    {
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(IDC_PAUSE));
        f.Key(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, false, 1000);
        f.Key(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, false, 1100);
        f.Key(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, false, 1120);
        f.Key(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, false, 1200);
        f.LetHeldBackReleaseGo();
        QCOMPARE(f.Wire(), QString("61 3C 6A 6A 3C 6A 6A"));

        f.h.m_line.ClearRecord();
        QVERIFY(f.Focus(IDC_RA_MINUS));
        f.Press(Qt::Key_Space);
        f.Release(Qt::Key_Space);
        f.Press(Qt::Key_Space);
        f.Release(Qt::Key_Space);
        QCOMPARE(f.Wire(), QString("3E 6A 6A 3E 6A 6A"));
    }

    // A release held back is let go before another key's press, so the
    // motions keep their order.
    void heldBackReleaseGoesBeforeTheNextKey()
    {
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(IDC_PAUSE));
        f.Key(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, false, 1000);
        f.Key(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, false, 1300);
        f.Key(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, false, 1300);
        QVERIFY(!f.h.Dlg().HoldButton(IDC_RA_PLUS)->m_bKeyHeld);
        QVERIFY(f.h.Dlg().HoldButton(IDC_DEC_PLUS)->m_bKeyHeld);
        f.Release(Qt::Key_Up);
        QCOMPARE(f.Wire(), QString("61 3C 6A 6A 5E 6A 6A"));
    }

    // Left held on "Dec +", then Up pressed and released, then Left
    // released: Ra + pressed, Dec + pressed (the RA motion is stopped
    // first), Dec + released, Ra + released.
    void twoKeysHeldTogether()
    {
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(IDC_DEC_PLUS));
        f.Press(Qt::Key_Left);
        QVERIFY(f.h.Dlg().HoldButton(IDC_RA_PLUS)->m_bKeyHeld);
        f.Press(Qt::Key_Up);
        QVERIFY(f.h.Dlg().HoldButton(IDC_DEC_PLUS)->m_bKeyHeld);
        f.Release(Qt::Key_Up);
        QVERIFY(!f.h.Dlg().HoldButton(IDC_DEC_PLUS)->m_bKeyHeld);
        QVERIFY(f.h.Dlg().HoldButton(IDC_RA_PLUS)->m_bKeyHeld);
        f.Release(Qt::Key_Left);
        QVERIFY(!f.h.Dlg().HoldButton(IDC_RA_PLUS)->m_bKeyHeld);
        QCOMPARE(f.Wire(), QString("61 3C 6A 6A 5E 6A 6A"));
        QCOMPARE(f.h.Dlg().focusWidget(), f.h.Dlg().Control(IDC_DEC_PLUS));
    }

    // A key held on a slewing button while the focus moves away (Tab, a
    // click into a coordinate field, a click on Exit) still ends its motion
    // when it is released; its auto-repeat on the new focus changes nothing.
    void motionEndsOnItsKeyWhereverTheFocusWent_data()
    {
        QTest::addColumn<QString>("move");
        QTest::addColumn<int>("held");
        QTest::newRow("Tab, Left held") << "tab" << int(Qt::Key_Left);
        QTest::newRow("click into a field, Down held") << "field" << int(Qt::Key_Down);
        QTest::newRow("Tab, Space held") << "tab" << int(Qt::Key_Space);
        QTest::newRow("click into a field, Space held") << "field" << int(Qt::Key_Space);
    }
    void motionEndsOnItsKeyWhereverTheFocusWent()
    {
        QFETCH(QString, move);
        QFETCH(int, held);
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(IDC_PAUSE));
        f.Press(held);
        const QString started = f.Wire();
        QVERIFY(started.startsWith("61 "));
        if (move == "tab") {
            f.Press(Qt::Key_Tab);
            f.Release(Qt::Key_Tab);
        } else {
            QTest::mouseClick(f.h.Dlg().Edit(IDC_NEXT_RA_M), Qt::LeftButton);
        }
        QVERIFY(f.h.Dlg().focusWidget() != f.h.Dlg().Control(IDC_PAUSE));
        // The X server goes on repeating the held key, now to the new focus.
        f.Key(QEvent::KeyRelease, held, Qt::NoModifier, true);
        f.Key(QEvent::KeyPress, held, Qt::NoModifier, true);
        // Space on a hold button ends its press when the button loses the
        // focus; an arrow key's motion goes on until the key is let go.
        const bool spaceHeld = held == Qt::Key_Space;
        QCOMPARE(f.Wire(), spaceHeld ? started + " 6A 6A" : started);
        f.Release(held);
        QCOMPARE(f.Wire(), started + " 6A 6A");
    }

    // The focus leaving the window ends a key's motion at once.
    void motionEndsWhenTheWindowLosesTheFocus()
    {
        KeysFixture f;
        QVERIFY(f.ready);
        QVERIFY(f.Focus(IDC_PAUSE));
        f.Press(Qt::Key_Right);
        QCOMPARE(f.Wire(), QString("61 3E"));
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(f.Wire(), QString("61 3E 6A 6A"));
        // The release that comes later, wherever, sends nothing more.
        f.h.Dlg().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.h.Dlg()));
        f.Release(Qt::Key_Right);
        QCOMPARE(f.Wire(), QString("61 3E 6A 6A"));
    }
};

QTEST_MAIN(KeysWindowTest)
#include "keys_window_test.moc"
