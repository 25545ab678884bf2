// GUI tests run headless, with one QApplication for the whole test program.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/client_app.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZENT Client");
  const int result = RUN_ALL_TESTS();
  CClientApp::WaitForSessionsToEnd();
  return result;
}
