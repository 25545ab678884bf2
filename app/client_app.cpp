#include "app/client_app.h"

#include <QApplication>
#include <QElapsedTimer>
#include <thread>

#include "app/main/main_dlg.h"
#include "link/event_session.h"

CClientApp theApp;

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
  while (zent::EventSource::LiveSources() > 0 && elapsed.elapsed() < 1000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool CClientApp::InitInstance() {
  CMainDlg dlg;
  dlg.exec();
  return false;
}
