#pragma once
// Hands the keys of the keyboard control to the hold buttons as Space
// presses and releases, and tells a held key's auto-repeat from a real
// release on the way.
//
// X repeats a held key as release/press pairs that carry one timestamp. Qt
// flags them as auto-repeat only when the press has already been read from
// the display connection while the release is being handled; on a real
// display it often has not, and an unflagged release would stop the motion
// and the press start it again, a slew byte and a "jj" for every repeat.
// So a release is held back for a moment: a press of the same key with the
// same timestamp makes the pair an auto-repeat and both are dropped; any
// other event, or the end of the moment, lets the release go.

#include <QBasicTimer>
#include <QKeyEvent>
#include <map>
#include <QObject>
#include <QPointer>
#include <QWidget>

// The Space presses and releases this forwarder posts; the keyboard control
// leaves them alone when they come by.
class CMotionKeyEvent : public QKeyEvent {
public:
    CMotionKeyEvent(QEvent::Type type, Qt::KeyboardModifiers modifiers, bool autoRepeat,
                    quint16 count);
};

class CKeyRepeatJoiner : public QObject {
public:
    // How long a release waits for the press of an auto-repeat pair.
    static constexpr int kHoldBackMs = 50;

    explicit CKeyRepeatJoiner(QObject* parent) : QObject(parent) {}

    // Forwards a key press or release of `key` as a Space press or release
    // to `target` (posted, so its report runs from the event loop).
    void Forward(QWidget* target, const QKeyEvent& event);
    // Lets a held-back release go now (another key came in between).
    void Flush();
    // A release is held back, waiting for the press of an auto-repeat pair.
    bool HoldsRelease() const { return m_bPending; }

    // The hold button that `key`, still held, was forwarded to; null when
    // the key is not held. The key's auto-repeat and its release belong to
    // that button wherever the focus has gone since the press, so that the
    // motion the key started ends when the key is let go.
    QWidget* HeldTarget(int key) const;
    // Forgets the held keys: their releases will not reach this window (it
    // lost the focus, and each hold button has released itself).
    void ForgetHeldKeys();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    static void Post(QWidget* target, QEvent::Type type, const QKeyEvent& event, bool autoRepeat);

    struct Pending {
        QPointer<QWidget> target;
        int key = 0;
        quint64 timestamp = 0;
        Qt::KeyboardModifiers modifiers;
        quint16 count = 1;
    };
    bool m_bPending = false;
    Pending m_pending;
    // Keys forwarded as a press and not yet released, with their buttons.
    std::map<int, QPointer<QWidget>> m_held;
    QBasicTimer m_timer;
};
