#pragma once
// A scratch home folder whose Documents folder the program uses, and a recorder that stands in
// for message boxes.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QListWidget>
#include <QString>
#include <QWidget>
#include <functional>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main/main_dlg.h"
#include "app/message_box.h"
#include "config/paths.h"
#include "tests/kit/status_text.h"
#include "tests/kit/temp_home.h"
#include "tests/kit/wait_until.h"

namespace zent::testing {

struct RecordedBox {
  QString caption;
  QString text;
};

class GuiTest : public ::testing::Test {
 protected:
  GuiTest() {
    home.Enter();
    previousHandler = SetMessageBoxHandler([this](const QString& caption, const QString& text, QWidget*) {
      boxes.push_back({caption, text});
    });
  }
  ~GuiTest() override { SetMessageBoxHandler(previousHandler); }

  std::string documents() const { return home.documents(); }
  std::string configPath() const { return ConfigFilePath(documents()); }

  TempHome home;
  CameraProfile profile;  // the camera a test gives its main window to work with
  std::vector<RecordedBox> boxes;
  MessageBoxHandler previousHandler;
};

// Runs the event loop until `done` holds or the time is up; returns `done()`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  return WaitUntil(done, std::chrono::milliseconds(timeoutMs),
                   [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
}

// The status window's lines without their time stamps.
inline std::vector<std::string> StatusTexts(const QListWidget& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.count(); ++i) texts.push_back(StatusText(list.item(i)->text().toStdString()));
  return texts;
}

inline bool HasStatus(const QListWidget& list, const std::string& text) {
  const auto texts = StatusTexts(list);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace zent::testing
