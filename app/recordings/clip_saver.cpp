#include "app/recordings/clip_saver.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFileInfo>
#include <QMetaObject>
#include <cerrno>
#include <cstring>

ClipSaver::~ClipSaver() {
  *m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

bool ClipSaver::Save(std::vector<zent::ClipSource> sources, zent::WallClock::time_point from,
                     zent::WallClock::time_point to, const QString& path) {
  if (Busy()) return false;
  if (m_thread.joinable()) m_thread.join();
  m_done = false;
  m_thread = std::thread([this, stop = m_stop, sources = std::move(sources), from, to,
                          file = QFileInfo(path).absoluteFilePath().toLocal8Bit().toStdString(), path] {
    zent::ClipSummary summary;
    std::string error;
    bool ok = false;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      error = std::strerror(errno);
    } else {
      int writeError = 0;  // the disk's reason, rather than "the receiver went away"
      ok = zent::WriteClip(
          sources, from, to,
          [&](const char* data, std::size_t size) {
            for (std::size_t done = 0; done < size && !*stop;) {
              const ssize_t n = ::write(fd, data + done, size - done);
              if (n < 0 && errno == EINTR) continue;
              if (n <= 0) {
                writeError = n < 0 ? errno : ENOSPC;
                return false;
              }
              done += static_cast<std::size_t>(n);
            }
            return !*stop;
          },
          summary, error);
      if (writeError != 0) error = std::strerror(writeError);
      if (::close(fd) != 0 && ok) {
        ok = false;
        error = std::strerror(errno);
      }
      if (summary.frames == 0) ::unlink(file.c_str());
    }
    const QString text = ok ? QString("Saved %1: %2 frames from %3 %4")
                                  .arg(path)
                                  .arg(summary.frames)
                                  .arg(summary.recordings)
                                  .arg(summary.recordings == 1 ? "recording" : "recordings")
                            : QString("The clip %1 was not saved%2: %3")
                                  .arg(path, summary.frames > 0 ? " whole" : "", QString::fromLocal8Bit(error.c_str()));
    m_done = true;
    QMetaObject::invokeMethod(
        this, [this, ok, text] { emit Finished(ok, text); }, Qt::QueuedConnection);
  });
  return true;
}
