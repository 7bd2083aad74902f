#pragma once
// The key table of the keyboard control: which hold button a key presses or
// releases, given the control that has the keyboard focus, or which speed a
// digit key chooses. Toolkit key codes in, control ids out; no widgets.

#include "ui/window/control_dlg_ids.h"

namespace tavro::ui {

// The outcome of one key event. At most one of the two is nonzero.
struct MotionKeyAction {
    // Hold button to receive the key as a Space press or release; 0 = none.
    int target = 0;
    // Speed radio button to check (the other two unchecked); 0 = none. Only
    // on key-down; the key then still takes its normal course.
    int speed = 0;

    bool operator==(const MotionKeyAction&) const = default;
};

// Applies the table. `focusId` is the control id of the focused control (0
// when none or it has no id), `qtKey` a Qt::Key code, `keyDown` true for a
// press, `keypad` true when the key comes from the numeric keypad. The
// keypad gives the same codes as the main keys for the keys taken here (with
// Num Lock off its 4/8/6/2/5 are the arrows and Clear, with Num Lock on its
// digits), so a keypad key is taken exactly as the main key of the same code.
MotionKeyAction MotionKeyFor(int focusId, int qtKey, bool keyDown, bool keypad);

}  // namespace tavro::ui
