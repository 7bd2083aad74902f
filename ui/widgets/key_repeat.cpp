#include "ui/widgets/key_repeat.h"

#include <QCoreApplication>
#include <QTimerEvent>

CMotionKeyEvent::CMotionKeyEvent(QEvent::Type type, Qt::KeyboardModifiers modifiers,
                                 bool autoRepeat, quint16 count)
    : QKeyEvent(type, Qt::Key_Space, modifiers, QStringLiteral(" "), autoRepeat, count)
{
}

void CKeyRepeatJoiner::Post(QWidget* target, QEvent::Type type, const QKeyEvent& event,
                            bool autoRepeat)
{
    QCoreApplication::postEvent(
        target, new CMotionKeyEvent(type, event.modifiers() & ~Qt::KeypadModifier, autoRepeat,
                                    static_cast<quint16>(event.count())));
}

void CKeyRepeatJoiner::Forward(QWidget* target, const QKeyEvent& event)
{
    if (event.type() == QEvent::KeyPress) {
        // The press of a release/press pair with one timestamp: the key is
        // still held. (Events made up without a timestamp never pair.)
        if (m_bPending && m_pending.key == event.key() && m_pending.target == target &&
            event.timestamp() != 0 && m_pending.timestamp == event.timestamp()) {
            m_bPending = false;
            m_timer.stop();
            return;
        }
        Flush();
        Post(target, QEvent::KeyPress, event, event.isAutoRepeat());
        m_held[event.key()] = target;
        return;
    }

    Flush();
    if (event.isAutoRepeat()) {
        Post(target, QEvent::KeyRelease, event, true);
        return;
    }
    m_bPending = true;
    m_pending = {target, event.key(), event.timestamp(), event.modifiers(),
                 static_cast<quint16>(event.count())};
    m_timer.start(kHoldBackMs, this);
}

void CKeyRepeatJoiner::Flush()
{
    if (!m_bPending)
        return;
    m_bPending = false;
    m_timer.stop();
    m_held.erase(m_pending.key);
    if (m_pending.target) {
        const QKeyEvent release(QEvent::KeyRelease, m_pending.key, m_pending.modifiers, QString(),
                                false, m_pending.count);
        Post(m_pending.target, QEvent::KeyRelease, release, false);
    }
}

QWidget* CKeyRepeatJoiner::HeldTarget(int key) const
{
    const auto it = m_held.find(key);
    return it == m_held.end() ? nullptr : it->second.data();
}

void CKeyRepeatJoiner::ForgetHeldKeys()
{
    Flush();
    m_held.clear();
}

void CKeyRepeatJoiner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_timer.timerId())
        Flush();
    else
        QObject::timerEvent(event);
}
