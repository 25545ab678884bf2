#pragma once
// What the windows ask of the desktop, as one set: the video control of the recording window, the
// file chooser of the configuration dialog, opening a file or folder in the desktop's program, and
// the question before a recording is deleted, where a clip is saved, and the key ring. The program uses the real ones;
// tests pass their own to the main window, which hands them on to every window it opens.

#include <QString>
#include <functional>
#include <optional>

#include "app/key_ring.h"

class QUrl;
class QWidget;
class ViewerControl;

using ViewerFactory = std::function<ViewerControl*(QWidget* parent)>;
using SaveFileChooser = std::function<std::optional<QString>(QWidget* owner, const QString& initialFolder)>;
using UrlOpener = std::function<bool(const QUrl& url)>;
using DeleteConfirmation = std::function<bool(QWidget* owner, const QString& text)>;

struct DesktopServices {
  ViewerFactory makeViewer;
  SaveFileChooser chooseSaveFile;
  SaveFileChooser chooseClipFile;  // an MP4 for a clip; `initialFolder` is the path suggested
  UrlOpener openUrl;
  DeleteConfirmation confirmDelete;
  KeyRing keyRing;

  static DesktopServices Real();
};
