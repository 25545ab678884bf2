#include "app/client_app.h"

#include <QApplication>
#include <QElapsedTimer>
#include <thread>

#include "app/main_dlg.h"
#include "app/message_box.h"
#include "link/event_session.h"
#include "res/strings.h"

CClientApp theApp;

namespace {

// Sockets need no start-up here; platforms that have one report its failure below.
bool InitSockets() { return true; }

}  // namespace

int CClientApp::Run(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZENT Client");
  QApplication::setApplicationVersion(ZENT_VERSION);
  const int result = InitInstance() ? app.exec() : 0;
  WaitForSessionsToEnd();
  return result;
}

void CClientApp::WaitForSessionsToEnd() {
  // A stopped session may still be on its way out of a call to the window; let it finish before
  // the application goes, for at most a second.
  QElapsedTimer elapsed;
  elapsed.start();
  while (zent::EventSession::LiveSessions() > 0 && elapsed.elapsed() < 1000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool CClientApp::InitInstance() {
  if (!InitSockets()) {
    ShowMessageBox(nullptr, QString::fromLocal8Bit(LoadStringResource(IDP_SOCKETS_INIT_FAILED)));
    return false;
  }
  CMainDlg dlg;
  m_pMainWnd = &dlg;
  dlg.exec();
  return false;
}
