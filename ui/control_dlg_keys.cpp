// The keyboard control of the main control window: keys seen before the
// focused control gets them. While the focus is on a slewing or focuser
// button, the table of ui/motion_keys.h turns a key into a Space press or
// release of a hold button, or chooses a speed.

#include <QCoreApplication>
#include <QKeyEvent>
#include <QRadioButton>

#include "ui/control_dlg.h"
#include "ui/hold_button.h"
#include "ui/motion_keys.h"

bool CControlDlg::PreTranslateMessage(QObject* target, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    // Keys reach the control with the focus. A key event addressed to any
    // other control was sent to it on purpose (the Space presses below).
    QWidget* focus = focusWidget();
    if (!focus || target != focus)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    return TranslateMotionKey(event->type(), key->key(), key);
}

bool CControlDlg::TranslateMotionKey(QEvent::Type type, int key, QKeyEvent* event)
{
    const int focusId = ControlId(focusWidget());
    if (focusId == 0)
        return false;
    const bool keyDown = type == QEvent::KeyPress;
    const bool keypad = event->modifiers().testFlag(Qt::KeypadModifier);
    const tavro::ui::MotionKeyAction action =
        tavro::ui::MotionKeyFor(focusId, key, keyDown, keypad);

    if (action.speed != 0) {
        // Checking one of the group's automatic radio buttons unchecks the
        // other two; the key then goes on its normal course.
        if (auto* radio = qobject_cast<QRadioButton*>(Control(action.speed)))
            radio->setChecked(true);
        return false;
    }
    CHoldButton* button = HoldButton(action.target);
    if (!button)
        return false;

    // Posted, not sent: the motion command runs later from the event loop
    // through the button's report. The auto-repeat flag goes with it, so
    // the button's guard makes a held key one press and one release.
    QCoreApplication::postEvent(
        button, new QKeyEvent(type, Qt::Key_Space, event->modifiers() & ~Qt::KeypadModifier,
                              QStringLiteral(" "), event->isAutoRepeat(),
                              static_cast<quint16>(event->count())));
    return true;
}
