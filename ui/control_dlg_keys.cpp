// The keyboard control of the main control window: keys seen before the
// focused control gets them. Filled in by the keyboard control change; until
// then every key takes its normal course.

#include <QKeyEvent>

#include "ui/control_dlg.h"

bool CControlDlg::PreTranslateMessage(QObject* target, QEvent* event)
{
    (void)target;
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    return TranslateMotionKey(event->type(), key->key(), key);
}

bool CControlDlg::TranslateMotionKey(QEvent::Type type, int key, QKeyEvent* event)
{
    (void)type;
    (void)key;
    (void)event;
    return false;
}
