#pragma once
// Saves a span of a camera's recordings as one MP4 file, on a thread of its own: the window only
// learns when it is done. A new file is made (never an existing one overwritten) and removed
// again when nothing could go into it.

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "record/clip.h"

class ClipSaver : public QObject {
  Q_OBJECT

 public:
  explicit ClipSaver(QObject* parent = nullptr) : QObject(parent) {}
  ~ClipSaver() override;  // stops a clip being saved, and waits for its thread

  // False when a clip is being saved already.
  bool Save(std::vector<zent::ClipSource> sources, zent::WallClock::time_point from, zent::WallClock::time_point to,
            const QString& path);
  bool Busy() const { return m_thread.joinable() && !m_done; }

 signals:
  // On the GUI thread: what was saved, or why nothing was.
  void Finished(bool ok, const QString& text);

 private:
  std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> m_done{true};
  std::thread m_thread;
};
