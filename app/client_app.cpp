#include "app/client_app.h"

#include <QApplication>

#include "app/main_dlg.h"
#include "app/message_box.h"
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
  return InitInstance() ? app.exec() : 0;
}

bool CClientApp::InitInstance() {
  if (!InitSockets()) {
    ShowMessageBox(nullptr, QString::fromLocal8Bit(LoadStringResource(IDP_SOCKETS_INIT_FAILED)));
    return false;
  }
  CMainDlg dlg;
  dlg.exec();
  return false;
}
