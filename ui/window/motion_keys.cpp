#include "ui/window/motion_keys.h"

#include <Qt>

namespace tavro::ui {

namespace {

bool IsSlewButton(int id)
{
    return id == IDC_RA_MINUS || id == IDC_RA_PLUS || id == IDC_DEC_PLUS || id == IDC_DEC_MINUS || id == IDC_PAUSE;
}

// Targets around "Pause" follow the layout on screen: "Ra +" to its left,
// "Ra -" to its right, "Dec +" above, "Dec -" below.
MotionKeyAction SlewKey(int qtKey, bool keyDown)
{
    switch (qtKey) {
    case Qt::Key_Clear:
    case Qt::Key_0:
    case Qt::Key_5:
        return {IDC_PAUSE, 0};
    case Qt::Key_Left:
        return {IDC_RA_PLUS, 0};
    case Qt::Key_Up:
        return {IDC_DEC_PLUS, 0};
    case Qt::Key_Right:
        return {IDC_RA_MINUS, 0};
    case Qt::Key_Down:
        return {IDC_DEC_MINUS, 0};
    case Qt::Key_1:
        return {0, keyDown ? IDC_SPEED_SLOW : 0};
    case Qt::Key_2:
        return {0, keyDown ? IDC_SPEED_FAST : 0};
    case Qt::Key_3:
        return {0, keyDown ? IDC_SPEED_GOTO : 0};
    default:
        return {};
    }
}

// Left presses the plus button of a focuser pair, Right its minus button.
MotionKeyAction FocusKey(int qtKey, int plusId, int minusId)
{
    if (qtKey == Qt::Key_Left)
        return {plusId, 0};
    if (qtKey == Qt::Key_Right)
        return {minusId, 0};
    return {};
}

}  // namespace

MotionKeyAction MotionKeyFor(int focusId, int qtKey, bool keyDown, bool keypad)
{
    // The keypad sends the codes of the table itself; nothing depends on it.
    (void)keypad;
    if (IsSlewButton(focusId))
        return SlewKey(qtKey, keyDown);
    if (focusId == IDC_FOCUS_SLOW_PLUS || focusId == IDC_FOCUS_SLOW_MINUS)
        return FocusKey(qtKey, IDC_FOCUS_SLOW_PLUS, IDC_FOCUS_SLOW_MINUS);
    if (focusId == IDC_FOCUS_FAST_PLUS || focusId == IDC_FOCUS_FAST_MINUS)
        return FocusKey(qtKey, IDC_FOCUS_FAST_PLUS, IDC_FOCUS_FAST_MINUS);
    return {};
}

}  // namespace tavro::ui
