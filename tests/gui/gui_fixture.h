#pragma once
// A scratch home folder whose Documents folder the program uses, and a recorder that stands in
// for message boxes.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QString>
#include <QWidget>
#include <functional>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main/main_dlg.h"
#include "app/message_box.h"
#include "config/paths.h"
#include "../unit/temp_dir.h"

namespace zent::testing {

struct RecordedBox {
  QString caption;
  QString text;
};

class GuiTest : public ::testing::Test {
 protected:
  GuiTest() {
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() + "/.config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home.path() + "/.cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (home.path() + "/.local/share").c_str(), 1);
    std::filesystem::create_directories(documents());
    previousHandler = SetMessageBoxHandler(
        [this](const QString& caption, const QString& text, QWidget*) { boxes.push_back({caption, text}); });
  }
  ~GuiTest() override { SetMessageBoxHandler(previousHandler); }

  std::string documents() const { return home.path() + "/Documents"; }
  std::string configPath() const { return ConfigFilePath(documents()); }

  TempDir home;
  CameraProfile profile;  // the camera a test gives its main window to work with
  std::vector<RecordedBox> boxes;
  MessageBoxHandler previousHandler;
};

// Runs the event loop until `done` holds or the time is up; returns `done()`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// The status window's lines without their time stamps.
inline std::vector<std::string> StatusTexts(const QListWidget& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.count(); ++i) texts.push_back(list.item(i)->text().mid(11).toStdString());
  return texts;
}

inline bool HasStatus(const QListWidget& list, const std::string& text) {
  const auto texts = StatusTexts(list);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

}  // namespace zent::testing
