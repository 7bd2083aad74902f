// The main control window's part in the gamepad (ui/gamepad/): the title
// names the game controller in use.

#include "ui/window/control_dlg.h"

void CControlDlg::ShowGamepad(const std::string& name)
{
    m_gamepadName = name;
    UpdateTitle();
}
