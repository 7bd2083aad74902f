#include "ui/widgets/up_down.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {
constexpr int kFirstRepeatMs = 400;
constexpr int kRepeatMs = 100;
}  // namespace

CUpDown::CUpDown(QWidget* parent) : QWidget(parent)
{
    // Like its platform model it is not a tab stop; its owner forwards the
    // arrow keys from the field it belongs to.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void CUpDown::SetRange(int low, int high)
{
    m_nLow = low;
    m_nHigh = high < low ? low : high;
    SetPos(m_nPos);
}

void CUpDown::SetPos(int position)
{
    const int clamped = position < m_nLow ? m_nLow : (position > m_nHigh ? m_nHigh : position);
    if (clamped != m_nPos) {
        m_nPos = clamped;
        update();
    }
}

void CUpDown::Step(int delta)
{
    emit deltaPos(m_nPos, delta);
    const long long target = static_cast<long long>(m_nPos) + delta;
    SetPos(target < m_nLow ? m_nLow : (target > m_nHigh ? m_nHigh : static_cast<int>(target)));
}

QSize CUpDown::sizeHint() const
{
    return QSize(17, 22);
}

QRect CUpDown::ArrowRect(Arrow arrow) const
{
    const int half = height() / 2;
    if (arrow == Up)
        return QRect(0, 0, width(), half);
    return QRect(0, half, width(), height() - half);
}

CUpDown::Arrow CUpDown::ArrowAt(const QPoint& point) const
{
    if (!rect().contains(point))
        return None;
    return point.y() < height() / 2 ? Up : Down;
}

void CUpDown::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (Arrow arrow : {Up, Down}) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = ArrowRect(arrow);
        const bool sunken = m_pressed == arrow && m_bOver;
        button.state |= sunken ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &button, &painter, this);

        QStyleOption indicator;
        indicator.initFrom(this);
        indicator.rect = button.rect.adjusted(3, 2, -3, -2);
        if (sunken)
            indicator.rect.translate(1, 1);
        style()->drawPrimitive(arrow == Up ? QStyle::PE_IndicatorArrowUp
                                           : QStyle::PE_IndicatorArrowDown,
                               &indicator, &painter, this);
    }
}

int CUpDown::RepeatDelta() const
{
    const qint64 ms = m_held.elapsed();
    if (ms >= 5000)
        return 20;
    if (ms >= 2000)
        return 5;
    return 1;
}

void CUpDown::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = ArrowAt(event->position().toPoint());
    if (m_pressed == None)
        return;
    m_bOver = true;
    m_held.start();
    Step(m_pressed == Up ? 1 : -1);
    StopRepeat();
    m_nTimerId = startTimer(kFirstRepeatMs);
    update();
}

void CUpDown::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed == None)
        return;
    const bool over = ArrowAt(event->position().toPoint()) == m_pressed;
    if (over != m_bOver) {
        m_bOver = over;
        update();
    }
}

void CUpDown::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    StopRepeat();
    m_pressed = None;
    m_bOver = false;
    update();
}

void CUpDown::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_nTimerId)
        return;
    // The first repeat waits longer; then the arrow repeats steadily.
    killTimer(m_nTimerId);
    m_nTimerId = startTimer(kRepeatMs);
    if (m_pressed != None && m_bOver) {
        const int delta = RepeatDelta();
        Step(m_pressed == Up ? delta : -delta);
    }
}

void CUpDown::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Up)
        Step(1);
    else if (event->key() == Qt::Key_Down)
        Step(-1);
    else
        QWidget::keyPressEvent(event);
}

void CUpDown::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        StopRepeat();
        m_pressed = None;
    }
    QWidget::changeEvent(event);
}

void CUpDown::StopRepeat()
{
    if (m_nTimerId != 0) {
        killTimer(m_nTimerId);
        m_nTimerId = 0;
    }
}
