#pragma once
// CUpDown: a pair of spin arrows without a buddy field. It carries a
// position within a range, never wraps, and before every move it reports
// the current position and the proposed change (deltaPos), so that its
// owner can show the value the move leads to. The position then changes by
// the proposed amount, held within the range.
//
// A click on an arrow moves one step; holding it repeats, and after 2 s
// (5 s) of holding each repeat proposes 5 (20) steps at once.

#include <QElapsedTimer>
#include <QWidget>

class CUpDown : public QWidget {
    Q_OBJECT

public:
    explicit CUpDown(QWidget* parent = nullptr);

    void SetRange(int low, int high);
    int Low() const { return m_nLow; }
    int High() const { return m_nHigh; }
    // Sets the position (held within the range) without any notification.
    void SetPos(int position);
    int Pos() const { return m_nPos; }

    // What an arrow does: reports, then moves by `delta` within the range.
    void Step(int delta);

    QSize sizeHint() const override;

signals:
    void deltaPos(int position, int delta);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum Arrow { None, Up, Down };
    Arrow ArrowAt(const QPoint& point) const;
    QRect ArrowRect(Arrow arrow) const;
    void StopRepeat();
    int RepeatDelta() const;

    int m_nLow = 0;
    int m_nHigh = 100;
    int m_nPos = 0;
    Arrow m_pressed = None;   // arrow held with the mouse
    bool m_bOver = false;     // the pointer is over the held arrow
    int m_nTimerId = 0;
    QElapsedTimer m_held;     // how long the arrow has been held
};
