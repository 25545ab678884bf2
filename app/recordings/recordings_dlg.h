#pragma once
// The Recordings window: what one camera recorded while nobody watched, newest first and grouped
// by day, each with a picture of its event, its time, length and size; a chart of the week's
// events by hour above. Plays a recording, shows it in its folder, keeps it, moves it to the
// trash, saves a span of recordings as one clip.

#include <QDialog>
#include <QHash>
#include <QImage>
#include <functional>

#include "app/desktop_services.h"
#include "app/recordings/recording_list.h"

class ClipSaver;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class ThumbnailLoader;
class WeekChart;

class CRecordingsDlg : public QDialog {
  Q_OBJECT

 public:
  // `savePath`: the camera's saving path, whose folder and stem name its recordings;
  // `eventSeconds`: how far into a recording its event lies; `inProgress`: the file being
  // recorded now, or empty.
  CRecordingsDlg(const QString& savePath, double eventSeconds, const QString& inProgress,
                 DesktopServices services = DesktopServices::Real(), QWidget* parent = nullptr);
  ~CRecordingsDlg() override;

  // What the camera's recorder reports while the window is open.
  void RecordingStarted(const QString& path);
  void RecordingSaved(const QString& path);
  void RecordingRemoved(const QString& path);

  QTreeWidget* List() const { return m_list; }
  // Rows whose thumbnail is in place (or known to be impossible): for tests and the benchmark.
  int ThumbnailsDone() const { return m_thumbnailsDone; }
  int ThumbnailsFromCache() const { return m_fromCache; }
  // Rows in view still waiting for their picture.
  int VisibleRowsWaiting() const;

  void PlaySelected();
  void ShowSelectedInFolder();
  void DeleteSelected();
  // Keeps the selected recording from every deletion but a person's, or lets it go again.
  void KeepSelected(bool keep);
  // Asks for a span (the selected recording's, at first) and a file, and saves the clip.
  void AskForClip();
  // Saves [from, to) of the listed recordings as one MP4 at `path`, off the GUI thread; the
  // window's line below the list says how it went.
  void SaveClip(const QDateTime& from, const QDateTime& to, const QString& path);
  QString ClipStatus() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void AddRow(const RecordingEntry& entry, bool inProgress, bool sorted);
  QTreeWidgetItem* DayItem(const QDate& day, bool sorted);
  QTreeWidgetItem* RowOf(const QString& path) const;
  QString SelectedPath() const;
  void RequestVisibleThumbnails();
  void OnThumbnail(const QString& path, const QImage& image, double seconds, const QString& error, bool fromCache);
  void ScrollToHour(const QDateTime& hour);
  void UpdateChart();
  void UpdateButtons();

  QString m_savePath;
  double m_eventSeconds = 0;
  QString m_inProgress;
  DesktopServices m_services;
  QTreeWidget* m_list = nullptr;
  WeekChart* m_chart = nullptr;
  QPushButton* m_btnPlay = nullptr;
  QPushButton* m_btnShow = nullptr;
  QPushButton* m_btnDelete = nullptr;
  QPushButton* m_btnKeep = nullptr;  // checked: the selected recording is kept
  QPushButton* m_btnClip = nullptr;
  QLabel* m_clipStatus = nullptr;
  ClipSaver* m_saver = nullptr;
  ThumbnailLoader* m_loader = nullptr;
  QHash<QString, QTreeWidgetItem*> m_rows;
  QHash<QDate, QTreeWidgetItem*> m_days;
  int m_thumbnailsDone = 0;
  int m_fromCache = 0;
};
