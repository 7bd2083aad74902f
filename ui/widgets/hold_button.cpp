#include "ui/widgets/hold_button.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "ui/window/control_dlg_ids.h"

CHoldButton::CHoldButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    // Enter must not click a hold button as the dialog's default button.
    setAutoDefault(false);
}

CHoldButton::~CHoldButton() = default;

void CHoldButton::Report(int message)
{
    QWidget* parent = parentWidget();
    if (parent)
        QCoreApplication::postEvent(parent,
                                    new CHoldButtonEvent(static_cast<QEvent::Type>(message), this));
}

void CHoldButton::mousePressEvent(QMouseEvent* event)
{
    // A double click arrives here too (as its second press), so every
    // release of the left button has a press before it.
    if (event->button() == Qt::LeftButton)
        Report(WM_HOLDBUTTON_DOWN);
    QPushButton::mousePressEvent(event);
}

void CHoldButton::mouseReleaseEvent(QMouseEvent* event)
{
    // The button holds the mouse grab from the press, so the release comes
    // here also when the pointer has left the button.
    if (event->button() == Qt::LeftButton)
        Report(WM_HOLDBUTTON_UP);
    QPushButton::mouseReleaseEvent(event);
}

void CHoldButton::keyPressEvent(QKeyEvent* event)
{
    // The guard makes a held Space, with all the presses of its auto-repeat,
    // one press.
    if (event->key() == Qt::Key_Space && !m_bKeyHeld) {
        m_bKeyHeld = true;
        Report(WM_HOLDBUTTON_DOWN);
    }
    QPushButton::keyPressEvent(event);
}

void CHoldButton::keyReleaseEvent(QKeyEvent* event)
{
    // While a key is held the window system sends release/press pairs
    // flagged as auto-repeat: those are not releases. A real key-up of any
    // key ends the press.
    if (!event->isAutoRepeat() && m_bKeyHeld) {
        m_bKeyHeld = false;
        Report(WM_HOLDBUTTON_UP);
    }
    QPushButton::keyReleaseEvent(event);
}

void CHoldButton::ReleaseLostKey()
{
    if (m_bKeyHeld) {
        m_bKeyHeld = false;
        Report(WM_HOLDBUTTON_UP);
    }
}

void CHoldButton::focusOutEvent(QFocusEvent* event)
{
    // Once the focus has gone, the key-up of the held Space goes to another
    // control or another window, and the motion would go on with nobody
    // holding a key.
    ReleaseLostKey();
    QPushButton::focusOutEvent(event);
}

bool CHoldButton::event(QEvent* event)
{
    // A press posted to this button by the keyboard control leaves the focus
    // elsewhere; deactivating the window is then the only sign that the
    // key-up will not come here.
    if (event->type() == QEvent::WindowDeactivate || event->type() == QEvent::Hide)
        ReleaseLostKey();
    return QPushButton::event(event);
}
