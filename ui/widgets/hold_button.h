#pragma once
// CHoldButton: a push button that tells its parent when it is pressed and
// when it is released, by the left mouse button or by the Space key, so that
// the parent can start a motion on the press and stop it on the release.
//
// The reports are events of type WM_HOLDBUTTON_DOWN (1025) and
// WM_HOLDBUTTON_UP (1026) posted to the parent; each carries the button.
// Apart from them the button behaves as an ordinary push button.

#include <QEvent>
#include <QPushButton>

class CHoldButton;

// The report a hold button posts to its parent.
class CHoldButtonEvent : public QEvent {
public:
    CHoldButtonEvent(QEvent::Type type, CHoldButton* button) : QEvent(type), m_pButton(button) {}
    CHoldButton* Button() const { return m_pButton; }

private:
    CHoldButton* m_pButton;
};

class CHoldButton : public QPushButton {
    Q_OBJECT
public:
    explicit CHoldButton(const QString& text, QWidget* parent = nullptr);
    ~CHoldButton() override;

    // A press by the Space key has been reported and no release since.
    bool m_bKeyHeld = false;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Posts a report to the parent window; it is handled after this button
    // has finished with the current event, in the order of posting.
    void Report(int message);
    // A Space press is held but its key-up will not reach this button (the
    // focus or the window went elsewhere): reports the release now, once.
    void ReleaseLostKey();
};
