#include "app/recordings/recording_list.h"

#include <QFileInfo>

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
  const std::vector<zent::RecordingFile> files =
      zent::FindRecordings(QFileInfo(savePath).absolutePath().toLocal8Bit().toStdString(), stem);
  QList<RecordingEntry> entries;
  entries.reserve(static_cast<qsizetype>(files.size()));
  // Newest first; of two in one second, the later name (-1, -2, …) first.
  for (auto file = files.rbegin(); file != files.rend(); ++file)
    entries.append({QString::fromLocal8Bit(file->path), StartOf(file->name, stem.size()), file->size, file->modifiedMs});
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
