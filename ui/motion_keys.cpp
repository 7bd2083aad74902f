#include "ui/motion_keys.h"

#include <Qt>

namespace tavro::ui {

using namespace motion_ids;

namespace {

bool IsSlewButton(int id)
{
    return id == kRaMinus || id == kRaPlus || id == kDecPlus || id == kDecMinus || id == kPause;
}

// Targets around "Pause" follow the layout on screen: "Ra +" to its left,
// "Ra -" to its right, "Dec +" above, "Dec -" below.
MotionKeyAction SlewKey(int qtKey, bool keyDown)
{
    switch (qtKey) {
    case Qt::Key_Clear:
    case Qt::Key_0:
    case Qt::Key_5:
        return {kPause, 0};
    case Qt::Key_Left:
        return {kRaPlus, 0};
    case Qt::Key_Up:
        return {kDecPlus, 0};
    case Qt::Key_Right:
        return {kRaMinus, 0};
    case Qt::Key_Down:
        return {kDecMinus, 0};
    case Qt::Key_1:
        return {0, keyDown ? kSpeedSlow : 0};
    case Qt::Key_2:
        return {0, keyDown ? kSpeedFast : 0};
    case Qt::Key_3:
        return {0, keyDown ? kSpeedGoto : 0};
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
    if (focusId == kFocusSlowPlus || focusId == kFocusSlowMinus)
        return FocusKey(qtKey, kFocusSlowPlus, kFocusSlowMinus);
    if (focusId == kFocusFastPlus || focusId == kFocusFastMinus)
        return FocusKey(qtKey, kFocusFastPlus, kFocusFastMinus);
    return {};
}

}  // namespace tavro::ui
