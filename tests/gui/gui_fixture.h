#pragma once
// A scratch home folder whose Documents folder the program uses, and a recorder that stands in
// for message boxes.

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_dlg.h"
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
    std::filesystem::create_directories(documents());
    previousHandler = SetMessageBoxHandler(
        [this](const QString& caption, const QString& text, QWidget*) { boxes.push_back({caption, text}); });
    currentProfile = CameraProfile{};
  }
  ~GuiTest() override { SetMessageBoxHandler(previousHandler); }

  std::string documents() const { return home.path() + "/Documents"; }
  std::string configPath() const { return ConfigFilePath(documents()); }

  TempDir home;
  std::vector<RecordedBox> boxes;
  MessageBoxHandler previousHandler;
};

}  // namespace zent::testing
