#pragma once
// The recordings this program made of one camera: the files in its saving folder whose names it
// gives them, newest first.

#include <QDateTime>
#include <QList>
#include <QString>

struct RecordingEntry {
  QString path;
  QDateTime start;  // from the name: when the recording was asked for
  qint64 size = 0;
  qint64 modified = 0;  // ms since the epoch, for the thumbnail cache
};

// The recordings named after `savePath`'s stem in its folder, newest first.
QList<RecordingEntry> ListRecordings(const QString& savePath);

// The entry for one file, when its name is a recording's name.
bool RecordingEntryOf(const QString& path, RecordingEntry& entry);
