// The hold button's reports: which mouse and key sequences post a press or a
// release to the parent, in which order, and only once delivered.

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <vector>

#include "ui/window/control_dlg_ids.h"
#include "ui/widgets/hold_button.h"

namespace {

// The parent window: records every report it receives as "D" or "U".
class Recorder : public QWidget {
public:
    bool event(QEvent* event) override
    {
        if (event->type() == kHoldButtonDownEvent || event->type() == kHoldButtonUpEvent) {
            m_log += event->type() == kHoldButtonDownEvent ? 'D' : 'U';
            m_buttons.push_back(static_cast<CHoldButtonEvent*>(event)->Button());
            return true;
        }
        return QWidget::event(event);
    }
    QString m_log;
    std::vector<CHoldButton*> m_buttons;
};

enum Step {
    MouseDown, MouseUp, MouseDouble, RightDown, RightUp,
    SpaceDown, SpaceUp, SpaceRepeatUp, SpaceRepeatDown,   // auto-repeat pair halves
    ShiftDown, ShiftUp, KeyADown, KeyAUp,
    FocusAway, Deactivate,
};

void SendKey(QWidget* to, QEvent::Type type, int key, bool autoRepeat)
{
    QKeyEvent event(type, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString(),
                    autoRepeat);
    QApplication::sendEvent(to, &event);
}

void Perform(Step step, CHoldButton* button, Recorder* parent, QWidget* other)
{
    const QPoint centre = button->rect().center();
    switch (step) {
    case MouseDown: QTest::mousePress(button, Qt::LeftButton, {}, centre); break;
    case MouseUp: QTest::mouseRelease(button, Qt::LeftButton, {}, centre); break;
    case MouseDouble: QTest::mouseDClick(button, Qt::LeftButton, {}, centre); break;
    case RightDown: QTest::mousePress(button, Qt::RightButton, {}, centre); break;
    case RightUp: QTest::mouseRelease(button, Qt::RightButton, {}, centre); break;
    case SpaceDown: SendKey(button, QEvent::KeyPress, Qt::Key_Space, false); break;
    case SpaceUp: SendKey(button, QEvent::KeyRelease, Qt::Key_Space, false); break;
    case SpaceRepeatUp: SendKey(button, QEvent::KeyRelease, Qt::Key_Space, true); break;
    case SpaceRepeatDown: SendKey(button, QEvent::KeyPress, Qt::Key_Space, true); break;
    case ShiftDown: SendKey(button, QEvent::KeyPress, Qt::Key_Shift, false); break;
    case ShiftUp: SendKey(button, QEvent::KeyRelease, Qt::Key_Shift, false); break;
    case KeyADown: SendKey(button, QEvent::KeyPress, Qt::Key_A, false); break;
    case KeyAUp: SendKey(button, QEvent::KeyRelease, Qt::Key_A, false); break;
    case FocusAway: other->setFocus(Qt::TabFocusReason); break;
    case Deactivate: {
        QEvent event(QEvent::WindowDeactivate);
        QApplication::sendEvent(parent, &event);
        break;
    }
    }
}

}  // namespace

Q_DECLARE_METATYPE(std::vector<Step>)

class HoldButtonTest : public QObject {
    Q_OBJECT
private slots:
    void sequences_data();
    void sequences();
    void reportsArePostedNotSent();
    void aPressPostedToAButtonWithoutFocusCounts();
};

void HoldButtonTest::sequences_data()
{
    QTest::addColumn<std::vector<Step>>("steps");
    QTest::addColumn<QString>("reports");

    QTest::newRow("click") << std::vector<Step>{MouseDown, MouseUp} << "DU";
    QTest::newRow("right button") << std::vector<Step>{RightDown, RightUp} << "";
    QTest::newRow("double click reports both presses")
        << std::vector<Step>{MouseDown, MouseUp, MouseDouble, MouseUp} << "DUDU";
    QTest::newRow("space held with auto-repeat")
        << std::vector<Step>{SpaceDown, SpaceRepeatUp, SpaceRepeatDown, SpaceRepeatUp,
                             SpaceRepeatDown, SpaceRepeatUp, SpaceRepeatDown, SpaceUp}
        << "DU";
    QTest::newRow("key-up without a press") << std::vector<Step>{SpaceUp, ShiftUp} << "";
    QTest::newRow("other keys") << std::vector<Step>{KeyADown, KeyAUp, ShiftDown, ShiftUp} << "";
    QTest::newRow("shift released while space held")
        << std::vector<Step>{SpaceDown, ShiftDown, ShiftUp} << "DU";
    QTest::newRow("space repeats after shift was released")
        << std::vector<Step>{SpaceDown, ShiftDown, ShiftUp, SpaceRepeatDown, SpaceRepeatUp,
                             SpaceRepeatDown, SpaceUp}
        << "DUDU";
    QTest::newRow("mouse and space together")
        << std::vector<Step>{SpaceDown, MouseDown, MouseUp, SpaceUp} << "DDUU";
    QTest::newRow("mouse inside a space press")
        << std::vector<Step>{MouseDown, SpaceDown, SpaceRepeatDown, MouseUp, SpaceUp} << "DDUU";
    QTest::newRow("focus lost while space held")
        << std::vector<Step>{SpaceDown, SpaceRepeatUp, SpaceRepeatDown, FocusAway, SpaceUp}
        << "DU";
    QTest::newRow("window deactivated while space held")
        << std::vector<Step>{SpaceDown, SpaceRepeatUp, SpaceRepeatDown, Deactivate, SpaceUp}
        << "DU";
    QTest::newRow("focus lost with nothing held") << std::vector<Step>{FocusAway, Deactivate}
                                                  << "";
    QTest::newRow("focus lost while the mouse holds it")
        << std::vector<Step>{MouseDown, FocusAway, MouseUp} << "DU";
}

void HoldButtonTest::sequences()
{
    QFETCH(std::vector<Step>, steps);
    QFETCH(QString, reports);

    Recorder parent;
    auto* button = new CHoldButton(QStringLiteral("Ra +"), &parent);
    auto* other = new QLineEdit(&parent);
    other->move(0, 40);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    button->setFocus(Qt::TabFocusReason);

    for (Step step : steps) {
        Perform(step, button, &parent, other);
        QCoreApplication::sendPostedEvents();
    }
    QCOMPARE(parent.m_log, reports);
    for (CHoldButton* reported : parent.m_buttons)
        QCOMPARE(reported, button);
    QCOMPARE(button->m_bKeyHeld, false);
}

void HoldButtonTest::reportsArePostedNotSent()
{
    Recorder parent;
    auto* button = new CHoldButton(QStringLiteral("Pause"), &parent);
    QTest::mousePress(button, Qt::LeftButton);
    SendKey(button, QEvent::KeyPress, Qt::Key_Space, false);
    QCOMPARE(button->m_bKeyHeld, true);
    QCOMPARE(parent.m_log, QString());   // nothing before the loop delivers them
    QTest::mouseRelease(button, Qt::LeftButton);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(parent.m_log, QStringLiteral("DDU"));
}

void HoldButtonTest::aPressPostedToAButtonWithoutFocusCounts()
{
    Recorder parent;
    auto* focused = new CHoldButton(QStringLiteral("Pause"), &parent);
    auto* target = new CHoldButton(QStringLiteral("Ra +"), &parent);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    focused->setFocus();
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space,
                                                      Qt::NoModifier, QStringLiteral(" ")));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space,
                                                      Qt::NoModifier, QStringLiteral(" ")));
    // The key event first, then the report it posted.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(parent.m_log, QStringLiteral("DU"));
    QCOMPARE(parent.m_buttons, (std::vector<CHoldButton*>{target, target}));
    QVERIFY(focused->hasFocus() || QApplication::focusWidget() == nullptr);
}

QTEST_MAIN(HoldButtonTest)
#include "hold_button_test.moc"
