#pragma once
// Makes the Recordings window's thumbnails on a thread of its own, newest asked first, and keeps
// them in the user's cache folder (keyed by path, size and modification time), so that a second
// opening decodes nothing.

#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class ThumbnailLoader : public QObject {
  Q_OBJECT

 public:
  // `atSeconds`: how far into each recording its picture is taken (its event).
  explicit ThumbnailLoader(double atSeconds, QObject* parent = nullptr);
  ~ThumbnailLoader() override;

  // Queues a thumbnail; `urgent` ones (rows in view) go before the rest.
  void Request(const QString& path, qint64 size, qint64 modified, bool urgent);
  void Forget(const QString& path);

  static QString CacheFolder();
  static QSize Size() { return {128, 72}; }
  // Keeps the `keep` newest pictures of the cache folder and deletes the rest.
  static void TrimCache(const QString& folder, int keep);
  static constexpr int kMaxCachedPictures = 20000;  // pictures of a few kB each
  static constexpr int kTrimEvery = 500;

 signals:
  // On the GUI thread. `image` is null when the file could not be read; `error` says why.
  void Ready(const QString& path, const QImage& image, double seconds, const QString& error, bool fromCache);

 private:
  struct Job {
    QString path;
    qint64 size = 0;
    qint64 modified = 0;
  };
  void Run();
  void Make(const Job& job);

  const double atSeconds_;
  const QString cacheFolder_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  QSet<QString> queued_;  // paths waiting; a job whose path is no longer here was done or forgotten
  bool stopping_ = false;
  int written_ = 0;     // worker thread only
  std::thread worker_;  // last: starts once everything above is ready
};
