#include "app/recordings/thumbnail_loader.h"

#include <QCryptographicHash>
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QStandardPaths>

#include "record/recording_catalog.h"
#include "record/thumbnail.h"

namespace {

QString CacheKey(const QString& path, qint64 size, qint64 modified) {
  const QByteArray key = path.toUtf8() + '\n' + QByteArray::number(size) + '\n' + QByteArray::number(modified);
  return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex());
}

}  // namespace

ThumbnailLoader::ThumbnailLoader(double atSeconds, QObject* parent)
    : QObject(parent), atSeconds_(atSeconds), cacheFolder_(CacheFolder()), worker_([this] { Run(); }) {}

ThumbnailLoader::~ThumbnailLoader() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
    queued_.clear();
  }
  wake_.notify_one();
  worker_.join();  // at most one thumbnail in the making
}

QString ThumbnailLoader::CacheFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/zent-client";
}

void ThumbnailLoader::Request(const QString& path, qint64 size, qint64 modified, bool urgent) {
  {
    std::lock_guard lock(mutex_);
    const bool waiting = queued_.contains(path);
    if (waiting && !urgent) return;
    // An urgent one already waiting is queued again in front; the later copy finds it done.
    queued_.insert(path);
    if (urgent) queue_.push_front({path, size, modified});
    else queue_.push_back({path, size, modified});
  }
  wake_.notify_one();
}

void ThumbnailLoader::Forget(const QString& path) {
  std::lock_guard lock(mutex_);
  queued_.remove(path);
}

void ThumbnailLoader::TrimCache(const QString& folder, int keep) {
  zent::TrimCacheFolder(folder.toLocal8Bit().toStdString(), ".png", static_cast<std::size_t>(std::max(keep, 0)));
}

void ThumbnailLoader::Run() {
  bool trimmed = false, served = false;
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      // The cache is trimmed once the rows asked for are served: never between a person and a picture.
      if (!trimmed && served && queue_.empty() && !stopping_) {
        lock.unlock();
        TrimCache(cacheFolder_, kMaxCachedPictures);
        trimmed = true;
        lock.lock();
      }
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = queue_.front();
      queue_.pop_front();
      if (!queued_.remove(job.path)) continue;  // done already, or forgotten
    }
    Make(job);
    served = true;
  }
}

void ThumbnailLoader::Make(const Job& job) {
  const QString cached = cacheFolder_ + "/" + CacheKey(job.path, job.size, job.modified) + ".png";
  QImageReader reader(cached);
  QImage image = reader.read();
  if (!image.isNull()) {
    const QString error = image.text("error");
    emit Ready(job.path, error.isEmpty() ? image : QImage(), image.text("seconds").toDouble(), error, true);
    return;
  }
  const zent::Thumbnail thumbnail =
      zent::MakeThumbnail(job.path.toLocal8Bit().toStdString(), atSeconds_, Size().width(), Size().height());
  if (thumbnail.ok) {
    image = QImage(thumbnail.width, thumbnail.height, QImage::Format_RGB32);
    for (int y = 0; y < thumbnail.height; ++y)
      std::memcpy(image.scanLine(y), thumbnail.pixels.data() + static_cast<std::size_t>(y) * thumbnail.width * 4,
                  static_cast<std::size_t>(thumbnail.width) * 4);
  } else {
    image = QImage(1, 1, QImage::Format_RGB32);  // remembers the failure, so it is not tried again
    image.setText("error", QString::fromLocal8Bit(thumbnail.error));
  }
  image.setText("seconds", QString::number(thumbnail.seconds, 'f', 3));
  QDir().mkpath(cacheFolder_);
  QImageWriter(cached, "png").write(image);
  // A folder of recordings that comes and goes would otherwise leave pictures behind for ever.
  if (++written_ % kTrimEvery == 0) TrimCache(cacheFolder_, kMaxCachedPictures);
  const QString error = QString::fromLocal8Bit(thumbnail.error);
  emit Ready(job.path, thumbnail.ok ? image : QImage(), thumbnail.seconds, error, false);
}
