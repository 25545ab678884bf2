// The main window's side of event recording: timers that prepare the recorder and re-arm it.

#include "app/main_dlg.h"

void CMainDlg::OnTimer(int /*id*/) {}

long CMainDlg::OnCameraEvent(unsigned long /*wParam*/, long /*lParam*/) { return 0; }
