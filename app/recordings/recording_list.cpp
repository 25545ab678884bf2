#include "app/recordings/recording_list.h"

#include <QFileInfo>

#include "record/recording_name.h"

namespace {

QDateTime StartOf(const zent::RecordingStamp& stamp) {
  return QDateTime(QDate(stamp.year, stamp.month, stamp.day), QTime(stamp.hour, stamp.minute, stamp.second));
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
  const std::vector<zent::FolderRecording> files =
      zent::ReadRecordingFolder(QFileInfo(savePath).absolutePath().toLocal8Bit().toStdString(), stem, true);
  QList<RecordingEntry> entries;
  entries.reserve(static_cast<qsizetype>(files.size()));
  // Newest first; of two in one second, the later name (-1, -2, …) first.
  for (auto file = files.rbegin(); file != files.rend(); ++file)
    entries.append(
        {QString::fromLocal8Bit(file->file.path), StartOf(file->stamp), file->file.size, file->file.modifiedMs});
  return entries;
}

bool RecordingEntryOf(const QString& path, RecordingEntry& entry) {
  const QFileInfo file(path);
  zent::RecordingStamp stamp;
  if (!zent::ReadStamp(file.fileName().toLocal8Bit().toStdString(), stamp)) return false;
  entry = {file.absoluteFilePath(), StartOf(stamp), file.size(), file.lastModified().toMSecsSinceEpoch()};
  return true;
}
