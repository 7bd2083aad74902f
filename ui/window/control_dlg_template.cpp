#include "ui/window/control_dlg_template.h"

#include "ui/window/control_dlg_ids.h"

namespace tavro::ui {

namespace {

using K = ControlKind;
using F = FontRole;

// Static texts without an id of their own in the code keep their template ids.
constexpr ControlTemplate kTemplate[] = {
    {IDC_CONNECT, K::PushButton, "Connect", 249, 17, 54, 24, F::Dialog},
    {IDC_DISCONNECT, K::PushButton, "Disconnect", 307, 17, 54, 24, F::Dialog},
    {IDC_OPTIONS, K::PushButton, "Options", 249, 45, 54, 24, F::Dialog},
    {IDC_K3CCD_MODE, K::PushButton, "K3CCD Mode", 307, 46, 54, 23, F::Dialog},
    {IDCANCEL, K::PushButton, "Exit", 249, 72, 112, 24, F::Dialog},
    {IDC_CONTROL_GROUP, K::GroupBox, " Control ", 7, 7, 149, 95, F::Bold},
    {IDC_SPEED_GOTO, K::RadioButton, "Goto speed", 14, 19, 68, 10, F::Bold},
    {IDC_SPEED_FAST, K::RadioButton, "10x", 14, 33, 66, 10, F::Bold},
    {IDC_SPEED_SLOW, K::RadioButton, "2.5x", 14, 47, 37, 10, F::Bold},
    {IDC_RA_PLUS, K::HoldButton, "Ra +", 55, 44, 27, 24, F::Dialog},
    {IDC_DEC_PLUS, K::HoldButton, "Dec +", 87, 16, 27, 24, F::Dialog},
    {IDC_RA_MINUS, K::HoldButton, "Ra -", 119, 44, 27, 24, F::Dialog},
    {IDC_DEC_MINUS, K::HoldButton, "Dec -", 87, 72, 27, 24, F::Dialog},
    {IDC_PAUSE, K::HoldButton, "Pause", 87, 44, 27, 24, F::Dialog},
    {IDC_FOCUS_GROUP, K::GroupBox, " Focus ", 159, 7, 84, 95, F::Bold},
    {IDC_FOCUS_SLOW_PLUS, K::HoldButton, "Slow +", 169, 17, 30, 24, F::Dialog},
    {IDC_FOCUS_SLOW_MINUS, K::HoldButton, "Slow -", 203, 17, 30, 24, F::Dialog},
    {IDC_FOCUS_FAST_PLUS, K::HoldButton, "Fast +", 169, 44, 30, 24, F::Dialog},
    {IDC_FOCUS_FAST_MINUS, K::HoldButton, "Fast -", 203, 44, 30, 24, F::Dialog},
    {IDC_GOTO_GROUP, K::GroupBox, " Goto ", 7, 103, 358, 112, F::Bold},
    {1036, K::Static, "Current point:", 15, 115, 70, 12, F::Large},
    {1038, K::Static, "Ra", 15, 134, 19, 8, F::Bold},
    {IDC_CUR_RA_H, K::Edit, "", 64, 131, 21, 14, F::Large},
    {1045, K::Static, "h", 87, 133, 8, 8, F::Bold},
    {IDC_CUR_RA_M, K::Edit, "", 96, 131, 21, 14, F::Large},
    {1046, K::Static, "m", 119, 133, 8, 8, F::Bold},
    {IDC_CUR_RA_S, K::Edit, "", 128, 131, 21, 14, F::Large},
    {1047, K::Static, "s", 151, 133, 8, 8, F::Bold},
    {1039, K::Static, "Dec", 15, 151, 20, 8, F::Bold},
    {IDC_CUR_DEC_SIGN, K::SignList, "", 37, 148, 24, 38, F::Large},
    {IDC_CUR_DEC_D, K::Edit, "", 64, 148, 21, 14, F::Large},
    {1048, K::Static, "\u00b0", 88, 148, 8, 8, F::Bold},
    {IDC_CUR_DEC_M, K::Edit, "", 96, 148, 21, 14, F::Large},
    {1049, K::Static, "'", 120, 148, 8, 8, F::Bold},
    {IDC_CUR_DEC_S, K::Edit, "", 128, 148, 21, 14, F::Large},
    {1050, K::Static, "\"", 153, 148, 8, 8, F::Bold},
    {IDC_GOTO, K::PushButton, "Goto >", 169, 116, 30, 46, F::Dialog},
    {1037, K::Static, "Next point:", 214, 115, 71, 12, F::Large},
    {1040, K::Static, "Ra", 214, 134, 19, 8, F::Bold},
    {IDC_NEXT_RA_H, K::Edit, "", 263, 131, 21, 14, F::Large},
    {1051, K::Static, "h", 286, 133, 8, 8, F::Bold},
    {IDC_NEXT_RA_M, K::Edit, "", 295, 131, 21, 14, F::Large},
    {1052, K::Static, "m", 318, 133, 8, 8, F::Bold},
    {IDC_NEXT_RA_S, K::Edit, "", 327, 131, 21, 14, F::Large},
    {1053, K::Static, "s", 350, 133, 8, 8, F::Bold},
    {1041, K::Static, "Dec", 214, 151, 19, 8, F::Bold},
    {IDC_NEXT_DEC_SIGN, K::SignList, "", 236, 148, 24, 38, F::Large},
    {IDC_NEXT_DEC_D, K::Edit, "", 263, 148, 21, 14, F::Large},
    {1054, K::Static, "\u00b0", 287, 148, 8, 8, F::Bold},
    {IDC_NEXT_DEC_M, K::Edit, "", 295, 148, 21, 14, F::Large},
    {1055, K::Static, "'", 319, 148, 8, 8, F::Bold},
    {IDC_NEXT_DEC_S, K::Edit, "", 327, 148, 21, 14, F::Large},
    {1056, K::Static, "\"", 352, 148, 8, 8, F::Bold},
    {1042, K::Static, "Ra", 15, 171, 19, 8, F::Bold},
    {IDC_PROGRESS_RA, K::ProgressBar, "", 37, 169, 312, 11, F::Dialog},
    {1043, K::Static, "Dec", 15, 184, 19, 8, F::Bold},
    {IDC_PROGRESS_DEC, K::ProgressBar, "", 37, 182, 312, 11, F::Dialog},
    {IDC_TIME_LEFT, K::StaticCentred, "Estimated time left:", 37, 198, 312, 8, F::Bold},
};

}  // namespace

std::span<const ControlTemplate> ControlDlgTemplate()
{
    return kTemplate;
}

}  // namespace tavro::ui
