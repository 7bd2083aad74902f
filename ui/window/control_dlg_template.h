#pragma once
// The main control window's layout table: its controls in tab order, each
// with caption, kind, position in dialog units and font role.

#include <span>

namespace tavro::ui {

enum class ControlKind {
    PushButton,
    HoldButton,
    RadioButton,
    GroupBox,
    Static,         // left-aligned text
    StaticCentred,  // centred text
    Edit,
    SignList,       // drop-down list with "+" and "-"
    ProgressBar,
};

enum class FontRole { Dialog, Bold, Large };

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* caption;   // UTF-8
    int x, y, width, height;
    FontRole font;
};

// Caption and client size of the window, in dialog units.
constexpr const char* kControlDlgCaption = "Tavro Control Tool 0.53";
constexpr int kControlDlgWidth = 372;
constexpr int kControlDlgHeight = 222;

std::span<const ControlTemplate> ControlDlgTemplate();

}  // namespace tavro::ui
