// The keyboard control's key table: which hold button a key presses or
// releases, or which speed it chooses, for the control that has the focus;
// and keys or focuses that the table leaves alone. Each row states its
// expected outcome; the window test checks the same keys end to end.
#include <QTest>

#include "ui/window/motion_keys.h"

using tavro::ui::MotionKeyAction;
using tavro::ui::MotionKeyFor;

namespace {

struct Row {
    const char* name;
    int focus;
    int key;
    bool down;
    MotionKeyAction want;
};

constexpr bool kDown = true;
constexpr bool kUp = false;

const Row kRows[] = {
    // Around "Pause": Left "Ra +", Right "Ra -", Up "Dec +", Down "Dec -",
    // down and up alike, from any slewing button.
    {"Left on Pause", IDC_PAUSE, Qt::Key_Left, kDown, {IDC_RA_PLUS, 0}},
    {"Left up on Pause", IDC_PAUSE, Qt::Key_Left, kUp, {IDC_RA_PLUS, 0}},
    {"Right on Ra +", IDC_RA_PLUS, Qt::Key_Right, kDown, {IDC_RA_MINUS, 0}},
    {"Up on Ra -", IDC_RA_MINUS, Qt::Key_Up, kUp, {IDC_DEC_PLUS, 0}},
    {"Down on Dec +", IDC_DEC_PLUS, Qt::Key_Down, kDown, {IDC_DEC_MINUS, 0}},
    {"Up on Dec -", IDC_DEC_MINUS, Qt::Key_Up, kDown, {IDC_DEC_PLUS, 0}},
    // Clear (keypad 5 without Num Lock), 0 and 5 press "Pause".
    {"Clear on Ra +", IDC_RA_PLUS, Qt::Key_Clear, kDown, {IDC_PAUSE, 0}},
    {"0 on Dec -", IDC_DEC_MINUS, Qt::Key_0, kUp, {IDC_PAUSE, 0}},
    {"5 on Pause", IDC_PAUSE, Qt::Key_5, kDown, {IDC_PAUSE, 0}},
    // 1, 2, 3 choose the speed on key-down only.
    {"1 down", IDC_RA_MINUS, Qt::Key_1, kDown, {0, IDC_SPEED_SLOW}},
    {"2 down", IDC_PAUSE, Qt::Key_2, kDown, {0, IDC_SPEED_FAST}},
    {"3 down", IDC_DEC_PLUS, Qt::Key_3, kDown, {0, IDC_SPEED_GOTO}},
    {"3 up", IDC_DEC_PLUS, Qt::Key_3, kUp, {}},
    // A focuser pair: Left its plus button, Right its minus button; nothing else.
    {"Left on Slow -", IDC_FOCUS_SLOW_MINUS, Qt::Key_Left, kDown, {IDC_FOCUS_SLOW_PLUS, 0}},
    {"Right on Slow +", IDC_FOCUS_SLOW_PLUS, Qt::Key_Right, kUp, {IDC_FOCUS_SLOW_MINUS, 0}},
    {"Left on Fast +", IDC_FOCUS_FAST_PLUS, Qt::Key_Left, kUp, {IDC_FOCUS_FAST_PLUS, 0}},
    {"Right on Fast -", IDC_FOCUS_FAST_MINUS, Qt::Key_Right, kDown, {IDC_FOCUS_FAST_MINUS, 0}},
    {"Up on a focuser button", IDC_FOCUS_FAST_MINUS, Qt::Key_Up, kDown, {}},
    {"1 on a focuser button", IDC_FOCUS_SLOW_PLUS, Qt::Key_1, kDown, {}},
    // Keys next to the table's pass untouched.
    {"4 on Pause", IDC_PAUSE, Qt::Key_4, kDown, {}},
    {"9 on Pause", IDC_PAUSE, Qt::Key_9, kDown, {}},
    {"Space on Ra +", IDC_RA_PLUS, Qt::Key_Space, kDown, {}},
    {"Home on Pause", IDC_PAUSE, Qt::Key_Home, kDown, {}},
    {"Enter on Pause", IDC_PAUSE, Qt::Key_Return, kDown, {}},
    {"Tab on Ra -", IDC_RA_MINUS, Qt::Key_Tab, kDown, {}},
    // Other focuses take nothing: fields, Goto, the speeds, commands, none.
    {"Left in a field", IDC_NEXT_RA_M, Qt::Key_Left, kDown, {}},
    {"1 in a field", IDC_CUR_DEC_D, Qt::Key_1, kDown, {}},
    {"Left on Goto", IDC_GOTO, Qt::Key_Left, kDown, {}},
    {"Up on a speed", IDC_SPEED_GOTO, Qt::Key_Up, kDown, {}},
    {"Down on Connect", IDC_CONNECT, Qt::Key_Down, kDown, {}},
    {"Left on Exit", IDCANCEL, Qt::Key_Left, kDown, {}},
    {"Left with no focus", 0, Qt::Key_Left, kDown, {}},
};

}  // namespace

class KeysTableTest : public QObject {
    Q_OBJECT

private slots:
    void everyRow()
    {
        for (const Row& row : kRows) {
            const MotionKeyAction got = MotionKeyFor(row.focus, row.key, row.down, false);
            QVERIFY2(got == row.want, qPrintable(QStringLiteral("%1: got target %2 speed %3")
                                                     .arg(QString::fromLatin1(row.name))
                                                     .arg(got.target)
                                                     .arg(got.speed)));
        }
    }
};

QTEST_MAIN(KeysTableTest)
#include "keys_table_test.moc"
