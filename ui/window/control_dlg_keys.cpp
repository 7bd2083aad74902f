// The keyboard control of the main control window: keys seen before the
// focused control gets them. While the focus is on a slewing or focuser
// button, the table of ui/window/motion_keys.h turns a key into a Space press or
// release of a hold button, or chooses a speed.

#include <QKeyEvent>
#include <QRadioButton>

#include "ui/window/control_dlg.h"
#include "ui/widgets/hold_button.h"
#include "ui/widgets/key_repeat.h"
#include "ui/window/motion_keys.h"

bool CControlDlg::PreTranslateMessage(QObject* target, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    // Keys reach the control with the focus. The Space presses that the
    // keyboard control posts itself take their course.
    QWidget* focus = focusWidget();
    if (!focus || target != focus || dynamic_cast<CMotionKeyEvent*>(event))
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // A key that started a motion stays with the button it pressed until it
    // is released, wherever the focus went in between (Tab, a click into a
    // field): its release ends the motion, its auto-repeat does not.
    if (m_pKeyRepeat) {
        if (QWidget* button = m_pKeyRepeat->HeldTarget(key->key())) {
            // A button whose press already ended (it lost the focus) is not
            // pressed again by the key's auto-repeat.
            auto* hold = qobject_cast<CHoldButton*>(button);
            if (event->type() == QEvent::KeyPress && hold && !hold->m_bKeyHeld)
                return true;
            m_pKeyRepeat->Forward(button, *key);
            return true;
        }
    }
    return TranslateMotionKey(event->type(), key->key(), key);
}

bool CControlDlg::TranslateMotionKey(QEvent::Type type, int key, QKeyEvent* event)
{
    if (!m_pKeyRepeat)
        m_pKeyRepeat = new CKeyRepeatJoiner(this);
    QWidget* focus = focusWidget();
    const int focusId = ControlId(focus);
    const bool keyDown = type == QEvent::KeyPress;
    const bool keypad = event->modifiers().testFlag(Qt::KeypadModifier);
    const tavro::ui::MotionKeyAction action =
        tavro::ui::MotionKeyFor(focusId, key, keyDown, keypad);

    QWidget* button = action.target != 0 ? HoldButton(action.target) : nullptr;
    // Space on a hold button is its own press; it goes the same way so that
    // its auto-repeat is told from its release just as well.
    if (!button && key == Qt::Key_Space && focusId >= IDC_FIRST_HOLD_BUTTON &&
        focusId <= IDC_LAST_HOLD_BUTTON)
        button = focus;
    if (button) {
        // Posted, not sent: the motion command runs later from the event
        // loop through the button's report. The focus does not move.
        m_pKeyRepeat->Forward(button, *event);
        return true;
    }

    m_pKeyRepeat->Flush();
    if (action.speed != 0) {
        // Checking one of the group's automatic radio buttons unchecks the
        // other two; the key then goes on its normal course.
        if (auto* radio = qobject_cast<QRadioButton*>(Control(action.speed)))
            radio->setChecked(true);
    }
    return false;
}
