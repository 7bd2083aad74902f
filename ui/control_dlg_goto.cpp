// The goto run of the main control window: the Goto command, the progress
// timer and the completion. Filled in by the goto run change; until then
// "Goto >" starts nothing.

#include "ui/control_dlg.h"

void CControlDlg::OnGoto()
{
}

void CControlDlg::OnTimer(int id)
{
    (void)id;
}

void CControlDlg::OnGotoDone()
{
}

void GotoDoneCallback(void* window)
{
    (void)window;
}
