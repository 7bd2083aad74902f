// The Options command of the main control window. Filled in by the options
// dialog change; until then "Options" changes nothing.

#include "ui/control_dlg.h"

void CControlDlg::OnOptions()
{
}
