// The keyboard control's key table: every row, for every focused control,
// both key directions, main keys and keypad; and the keys that must not be
// taken.
#include <QTest>

#include <vector>

#include "ui/motion_keys.h"

using tavro::ui::MotionKeyAction;
using tavro::ui::MotionKeyFor;

namespace {

const std::vector<int> kSlewButtons = {IDC_RA_MINUS, IDC_RA_PLUS, IDC_DEC_PLUS, IDC_DEC_MINUS, IDC_PAUSE};
const std::vector<int> kSlowPair = {IDC_FOCUS_SLOW_PLUS, IDC_FOCUS_SLOW_MINUS};
const std::vector<int> kFastPair = {IDC_FOCUS_FAST_PLUS, IDC_FOCUS_FAST_MINUS};

// One row of the table as written down for the operator: with the focus on
// any of `focus`, `key` presses `target` (down and up) or, on key-down only,
// checks `speed`.
struct Row {
    std::vector<int> focus;
    int key;
    int target;
    int speed;
};

const std::vector<Row> kTable = {
    {kSlewButtons, Qt::Key_Clear, IDC_PAUSE, 0},
    {kSlewButtons, Qt::Key_0, IDC_PAUSE, 0},
    {kSlewButtons, Qt::Key_5, IDC_PAUSE, 0},
    {kSlewButtons, Qt::Key_Left, IDC_RA_PLUS, 0},
    {kSlewButtons, Qt::Key_Up, IDC_DEC_PLUS, 0},
    {kSlewButtons, Qt::Key_Right, IDC_RA_MINUS, 0},
    {kSlewButtons, Qt::Key_Down, IDC_DEC_MINUS, 0},
    {kSlewButtons, Qt::Key_1, 0, IDC_SPEED_SLOW},
    {kSlewButtons, Qt::Key_2, 0, IDC_SPEED_FAST},
    {kSlewButtons, Qt::Key_3, 0, IDC_SPEED_GOTO},
    {kSlowPair, Qt::Key_Left, IDC_FOCUS_SLOW_PLUS, 0},
    {kSlowPair, Qt::Key_Right, IDC_FOCUS_SLOW_MINUS, 0},
    {kFastPair, Qt::Key_Left, IDC_FOCUS_FAST_PLUS, 0},
    {kFastPair, Qt::Key_Right, IDC_FOCUS_FAST_MINUS, 0},
};

MotionKeyAction Expected(int focus, int key, bool down)
{
    for (const Row& row : kTable) {
        bool focusMatches = false;
        for (int id : row.focus)
            focusMatches = focusMatches || id == focus;
        if (!focusMatches || row.key != key)
            continue;
        return {row.target, down ? row.speed : 0};
    }
    return {};
}

// Every control that can hold the focus in the window, and none at all.
const std::vector<int> kFocusIds = {
    0,    2,    1000, 1001, 1002, 1076,                    // no focus, Exit, commands
    1003, 1004, 1005,                                      // speed radio buttons
    1006, 1007, 1008, 1009, 1010,                          // slewing buttons
    1011, 1012, 1013, 1014,                                // focuser buttons
    1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022,        // current point, Goto
    1029, 1030, 1031, 1032, 1033, 1034, 1035,              // next point
};

// The table's keys and keys next to them that must pass untouched: the
// other digits, Space, Enter, the keypad's Num-Lock-off codes for 0, 1, 3,
// 7 and 9, letters.
const std::vector<int> kKeys = {
    Qt::Key_Clear, Qt::Key_0,      Qt::Key_1,        Qt::Key_2,      Qt::Key_3,
    Qt::Key_4,     Qt::Key_5,      Qt::Key_6,        Qt::Key_7,      Qt::Key_8,
    Qt::Key_9,     Qt::Key_Left,   Qt::Key_Up,       Qt::Key_Right,  Qt::Key_Down,
    Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter,    Qt::Key_Insert, Qt::Key_End,
    Qt::Key_Home,  Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_A,      Qt::Key_Escape,
    Qt::Key_Tab,
};

}  // namespace

class KeysTableTest : public QObject {
    Q_OBJECT

private slots:
    void everyCombination()
    {
        int taken = 0;
        int speeds = 0;
        for (int focus : kFocusIds) {
            for (int key : kKeys) {
                for (bool down : {true, false}) {
                    for (bool keypad : {false, true}) {
                        const MotionKeyAction want = Expected(focus, key, down);
                        const MotionKeyAction got = MotionKeyFor(focus, key, down, keypad);
                        if (!(got == want)) {
                            QFAIL(qPrintable(QString("focus %1 key 0x%2 %3%4: got target %5 speed "
                                                     "%6, want target %7 speed %8")
                                                 .arg(focus)
                                                 .arg(key, 0, 16)
                                                 .arg(down ? "down" : "up")
                                                 .arg(keypad ? " keypad" : "")
                                                 .arg(got.target)
                                                 .arg(got.speed)
                                                 .arg(want.target)
                                                 .arg(want.speed)));
                        }
                        taken += got.target != 0;
                        speeds += got.speed != 0;
                    }
                }
            }
        }
        // 5 slewing buttons x 7 keys + 4 focuser buttons x 2 keys, each down
        // and up, main and keypad; speeds 5 x 3 on key-down only.
        QCOMPARE(taken, (5 * 7 + 4 * 2) * 2 * 2);
        QCOMPARE(speeds, 5 * 3 * 2);
    }
};

QTEST_MAIN(KeysTableTest)
#include "keys_table_test.moc"
