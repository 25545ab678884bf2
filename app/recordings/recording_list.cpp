#include "app/recordings/recording_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "record/recording_name.h"

namespace {

// "YYYYMMDD_HHMMSS" after the stem and its "_": digits the name check has already vouched for.
QDateTime StartOf(const std::string& name, std::size_t stemLength) {
  auto number = [&](std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (name[i] - '0');
    return value;
  };
  const std::size_t at = stemLength + 1;
  return QDateTime(QDate(number(at, 4), number(at + 4, 2), number(at + 6, 2)),
                   QTime(number(at + 9, 2), number(at + 11, 2), number(at + 13, 2)));
}

// The stem a saving path gives its recordings: the file name without its extension.
QString StemOf(const QString& savePath) {
  const QFileInfo info(savePath);
  const QString name = info.fileName();
  const int dot = name.lastIndexOf('.');
  return dot > 0 ? name.left(dot) : name;
}

}  // namespace

QList<RecordingEntry> ListRecordings(const QString& savePath) {
  const std::string stem = StemOf(savePath).toLocal8Bit().toStdString();
  const QString folder = QFileInfo(savePath).absolutePath();
  const std::string folderBytes = folder.toLocal8Bit().toStdString();
  QList<RecordingEntry> entries;
  // readdir and fstatat directly: a folder of 10,000 recordings lists in milliseconds.
  DIR* dir = ::opendir(folderBytes.c_str());
  if (!dir) return entries;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!zent::IsRecordingName(name, stem)) continue;
    struct stat info{};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
    entries.append({folder + "/" + QString::fromLocal8Bit(name), StartOf(name, stem.size()),
                    static_cast<qint64>(info.st_size),
                    static_cast<qint64>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000});
  }
  ::closedir(dir);
  // Newest first; of two in one second, the later name (-1, -2, …) first.
  std::sort(entries.begin(), entries.end(), [](const RecordingEntry& a, const RecordingEntry& b) {
    if (a.start != b.start) return a.start > b.start;
    if (a.path.size() != b.path.size()) return a.path.size() > b.path.size();
    return a.path > b.path;
  });
  return entries;
}

bool RecordingEntryOf(const QString& path, RecordingEntry& entry) {
  const QFileInfo file(path);
  const std::string name = file.fileName().toLocal8Bit().toStdString();
  const std::string stem = zent::RecordingStem(name);
  if (stem.empty()) return false;
  entry = {file.absoluteFilePath(), StartOf(name, stem.size()), file.size(), file.lastModified().toMSecsSinceEpoch()};
  return true;
}
