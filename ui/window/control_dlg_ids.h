#pragma once
// Control ids of the main control window (IDD_CONTROL) and the two
// private event types by which a hold button reports its press and release.

#include <QEvent>

#include "ui/widgets/dialog_ids.h"

constexpr int IDD_CONTROL = 102;
constexpr int IDR_MAINFRAME = 128;   // the program's icon

// "Exit" is IDCANCEL (ui/widgets/dialog_ids.h).

constexpr int IDC_OPTIONS = 1000;
constexpr int IDC_CONNECT = 1001;
constexpr int IDC_DISCONNECT = 1002;
constexpr int IDC_SPEED_SLOW = 1003;
constexpr int IDC_SPEED_FAST = 1004;
constexpr int IDC_SPEED_GOTO = 1005;
constexpr int IDC_RA_MINUS = 1006;
constexpr int IDC_RA_PLUS = 1007;
constexpr int IDC_DEC_PLUS = 1008;
constexpr int IDC_DEC_MINUS = 1009;
constexpr int IDC_PAUSE = 1010;
constexpr int IDC_FOCUS_SLOW_PLUS = 1011;
constexpr int IDC_FOCUS_SLOW_MINUS = 1012;
constexpr int IDC_FOCUS_FAST_PLUS = 1013;
constexpr int IDC_FOCUS_FAST_MINUS = 1014;
constexpr int IDC_CUR_DEC_D = 1015;
constexpr int IDC_CUR_DEC_M = 1016;
constexpr int IDC_CUR_DEC_S = 1017;
constexpr int IDC_CUR_DEC_SIGN = 1018;
constexpr int IDC_CUR_RA_H = 1019;
constexpr int IDC_CUR_RA_M = 1020;
constexpr int IDC_CUR_RA_S = 1021;
constexpr int IDC_GOTO = 1022;
constexpr int IDC_PROGRESS_RA = 1023;
constexpr int IDC_PROGRESS_DEC = 1024;
constexpr int IDC_TIME_LEFT = 1025;
constexpr int IDC_CONTROL_GROUP = 1026;
constexpr int IDC_FOCUS_GROUP = 1027;
constexpr int IDC_GOTO_GROUP = 1028;
constexpr int IDC_NEXT_DEC_D = 1029;
constexpr int IDC_NEXT_DEC_M = 1030;
constexpr int IDC_NEXT_DEC_S = 1031;
constexpr int IDC_NEXT_DEC_SIGN = 1032;
constexpr int IDC_NEXT_RA_H = 1033;
constexpr int IDC_NEXT_RA_M = 1034;
constexpr int IDC_NEXT_RA_S = 1035;
constexpr int IDC_K3CCD_MODE = 1076;

// The first and the last id of the nine hold buttons.
constexpr int IDC_FIRST_HOLD_BUTTON = IDC_RA_MINUS;
constexpr int IDC_LAST_HOLD_BUTTON = IDC_FOCUS_FAST_MINUS;

// Private events a hold button posts to its parent: pressed, released.
constexpr int WM_USER = 0x0400;
constexpr int WM_HOLDBUTTON_DOWN = WM_USER + 1;   // 1025
constexpr int WM_HOLDBUTTON_UP = WM_USER + 2;     // 1026
constexpr QEvent::Type kHoldButtonDownEvent = static_cast<QEvent::Type>(WM_HOLDBUTTON_DOWN);
constexpr QEvent::Type kHoldButtonUpEvent = static_cast<QEvent::Type>(WM_HOLDBUTTON_UP);

// The seven fields of one point, in the order in which they are always
// handled: RA hours, minutes, seconds, Dec sign, degrees, arc minutes, arc
// seconds.
struct PointFields {
    int raH, raM, raS, decSign, decD, decM, decS;
};

constexpr PointFields kCurrentPointFields = {IDC_CUR_RA_H,     IDC_CUR_RA_M,  IDC_CUR_RA_S,
                                             IDC_CUR_DEC_SIGN, IDC_CUR_DEC_D, IDC_CUR_DEC_M,
                                             IDC_CUR_DEC_S};
constexpr PointFields kNextPointFields = {IDC_NEXT_RA_H,     IDC_NEXT_RA_M,  IDC_NEXT_RA_S,
                                          IDC_NEXT_DEC_SIGN, IDC_NEXT_DEC_D, IDC_NEXT_DEC_M,
                                          IDC_NEXT_DEC_S};
