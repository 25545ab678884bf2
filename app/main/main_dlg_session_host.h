#pragma once
// Carries a session's calls from its thread onto the GUI thread and into the main window. Once
// detached (the session was stopped) every call is dropped, even one already on its way.

#include <QPointer>

#include "app/main/main_dlg.h"
#include "link/session_host.h"

class MainDlgSessionHost : public zent::SessionHost {
 public:
  explicit MainDlgSessionHost(CMainDlg* dlg) : m_dlg(dlg) {}

  // GUI thread only.
  void Detach() { m_detached = true; }

  void AddStatusLine(const std::string& text) override;
  void LoginAccepted() override;
  void CameraEvent(const zent::EventOrigin& origin) override;
  void VideoFound(const std::string& url) override;
  void SessionEnded(const zent::SessionEnding& ending) override;

 private:
  // Runs `action` on the GUI thread with the window, and returns when it has run or was dropped.
  template <typename Action>
  void OnGuiThread(Action action);

  QPointer<CMainDlg> m_dlg;  // read on the GUI thread only
  bool m_detached = false;   // written and read on the GUI thread only
};
