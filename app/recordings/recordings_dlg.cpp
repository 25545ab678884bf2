#include "app/recordings/recordings_dlg.h"

#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/message_box.h"
#include "app/recordings/clip_saver.h"
#include "app/recordings/clip_span_dlg.h"
#include "app/recordings/thumbnail_loader.h"
#include "app/recordings/week_chart.h"
#include "record/disk_space.h"
#include "record/kept_mark.h"

namespace {

enum Column { kPicture, kTime, kLength, kSize };
constexpr int kPathRole = Qt::UserRole;

QString SizeText(qint64 bytes) { return QString::fromStdString(zent::SizeText(bytes)); }

QString LengthText(double seconds) {
  const int whole = static_cast<int>(seconds + 0.5);
  return QString("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QChar('0'));
}

QIcon Placeholder(const QString& mark) {
  // One pixmap per mark, shared by every row that shows it (10,000 rows would otherwise hold
  // 10,000 copies).
  static QHash<QString, QIcon> made;
  if (const auto it = made.constFind(mark); it != made.constEnd()) return *it;
  QPixmap pixmap(ThumbnailLoader::Size());
  pixmap.fill(QColor(60, 60, 60));
  if (!mark.isEmpty()) {
    QPainter painter(&pixmap);
    painter.setPen(Qt::white);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, mark);
  }
  made.insert(mark, QIcon(pixmap));
  return made.value(mark);
}

}  // namespace

CRecordingsDlg::CRecordingsDlg(const QString& savePath, double eventSeconds, const QString& inProgress,
                               DesktopServices services, QWidget* parent)
    : QDialog(parent),
      m_savePath(savePath),
      m_eventSeconds(eventSeconds),
      m_inProgress(inProgress),
      m_services(std::move(services)) {
  setObjectName("IDD_RECORDINGS");
  setWindowTitle(QString("Recordings of %1").arg(QFileInfo(savePath).fileName()));
  setModal(false);
  resize(560, 640);

  m_chart = new WeekChart(this);
  m_list = new QTreeWidget(this);
  m_list->setObjectName("IDC_RECORDINGS");
  m_list->setColumnCount(4);
  m_list->setHeaderLabels({"", "Started", "Length", "Size"});
  m_list->setIconSize(ThumbnailLoader::Size());
  m_list->setUniformRowHeights(false);  // day rows are lower than picture rows
  m_list->setRootIsDecorated(false);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->header()->setSectionResizeMode(kPicture, QHeaderView::Fixed);
  m_list->header()->resizeSection(kPicture, ThumbnailLoader::Size().width() + 12);

  m_btnPlay = new QPushButton("&Play", this);
  m_btnShow = new QPushButton("Show in &folder", this);
  m_btnDelete = new QPushButton("&Delete", this);
  m_btnKeep = new QPushButton("&Keep", this);
  m_btnKeep->setCheckable(true);
  m_btnKeep->setObjectName("keep");
  m_btnKeep->setToolTip("Never deleted by the retention, the camera's share or the disk guard");
  m_btnClip = new QPushButton("Save c&lip\u2026", this);
  m_btnClip->setObjectName("saveClip");
  m_clipStatus = new QLabel(this);
  m_clipStatus->setObjectName("clipStatus");
  m_clipStatus->setWordWrap(true);
  m_saver = new ClipSaver(this);
  m_btnPlay->setObjectName("play");
  m_btnShow->setObjectName("showInFolder");
  m_btnDelete->setObjectName("delete");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_btnPlay);
  buttons->addWidget(m_btnShow);
  buttons->addWidget(m_btnClip);
  buttons->addStretch();
  buttons->addWidget(m_btnKeep);
  buttons->addWidget(m_btnDelete);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Events per hour, last 7 days", this));
  layout->addWidget(m_chart);
  layout->addWidget(m_list, 1);
  layout->addWidget(m_clipStatus);
  layout->addLayout(buttons);

  m_loader = new ThumbnailLoader(eventSeconds, this);
  connect(m_loader, &ThumbnailLoader::Ready, this, &CRecordingsDlg::OnThumbnail);
  // A double click or Enter on a row (the list's own activation).
  connect(m_list, &QTreeWidget::itemActivated, this, [this] { PlaySelected(); });
  connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CRecordingsDlg::UpdateButtons);
  connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, &CRecordingsDlg::RequestVisibleThumbnails);
  connect(m_btnPlay, &QPushButton::clicked, this, &CRecordingsDlg::PlaySelected);
  connect(m_btnShow, &QPushButton::clicked, this, &CRecordingsDlg::ShowSelectedInFolder);
  connect(m_btnDelete, &QPushButton::clicked, this, &CRecordingsDlg::DeleteSelected);
  connect(m_btnKeep, &QPushButton::clicked, this, &CRecordingsDlg::KeepSelected);
  connect(m_btnClip, &QPushButton::clicked, this, &CRecordingsDlg::AskForClip);
  connect(m_saver, &ClipSaver::Finished, this, [this](bool ok, const QString& text) {
    m_clipStatus->setText(text);
    m_btnClip->setEnabled(true);
    if (!ok) ShowMessageBox(this, text, "Error!");
  });
  connect(m_chart, &WeekChart::HourClicked, this, &CRecordingsDlg::ScrollToHour);

  // The rows at once; their pictures follow, newest (the top of the list) first.
  const QList<RecordingEntry> entries = ListRecordings(savePath);
  m_list->setUpdatesEnabled(false);
  for (const RecordingEntry& entry : entries) AddRow(entry, entry.path == m_inProgress, false);
  m_list->setUpdatesEnabled(true);
  m_list->expandAll();
  for (const RecordingEntry& entry : entries)
    if (entry.path != m_inProgress) m_loader->Request(entry.path, entry.size, entry.modified, false);
  UpdateChart();
  UpdateButtons();
}

CRecordingsDlg::~CRecordingsDlg() = default;

QTreeWidgetItem* CRecordingsDlg::DayItem(const QDate& day, bool sorted) {
  if (QTreeWidgetItem* item = m_days.value(day)) return item;
  auto* item = new QTreeWidgetItem;
  item->setText(kPicture, QLocale::system().toString(day, QLocale::LongFormat));
  item->setFlags(Qt::ItemIsEnabled);
  QFont font = item->font(kPicture);
  font.setBold(true);
  item->setFont(kPicture, font);
  int at = m_list->topLevelItemCount();
  if (sorted) {  // days newest first
    at = 0;
    while (at < m_list->topLevelItemCount() && m_days.key(m_list->topLevelItem(at)) > day) ++at;
  }
  m_list->insertTopLevelItem(at, item);
  item->setFirstColumnSpanned(true);  // the day reads across the whole row
  item->setExpanded(true);
  m_days.insert(day, item);
  return item;
}

void CRecordingsDlg::AddRow(const RecordingEntry& entry, bool inProgress, bool sorted) {
  QTreeWidgetItem* day = DayItem(entry.start.date(), sorted);
  auto* row = new QTreeWidgetItem;
  row->setData(kPicture, kPathRole, entry.path);
  row->setData(kTime, kPathRole, entry.start);
  row->setText(kTime, entry.start.time().toString("HH:mm:ss"));
  row->setText(kLength, inProgress ? "Recording\u2026" : "\u2026");
  row->setText(kSize, SizeText(entry.size));
  row->setIcon(kPicture, Placeholder(inProgress ? "\u25CF REC" : QString()));
  row->setToolTip(kPicture, entry.path);
  row->setSizeHint(kPicture, ThumbnailLoader::Size() + QSize(4, 6));
  int at = day->childCount();
  if (sorted) {
    at = 0;
    while (at < day->childCount() && day->child(at)->data(kTime, kPathRole).toDateTime() > entry.start) ++at;
  }
  day->insertChild(at, row);
  m_rows.insert(entry.path, row);
}

QTreeWidgetItem* CRecordingsDlg::RowOf(const QString& path) const { return m_rows.value(path); }

QString CRecordingsDlg::SelectedPath() const {
  const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->data(kPicture, kPathRole).toString();
}

void CRecordingsDlg::UpdateButtons() {
  const QString path = SelectedPath();
  m_btnPlay->setEnabled(!path.isEmpty());
  m_btnShow->setEnabled(!path.isEmpty());
  m_btnDelete->setEnabled(!path.isEmpty() && path != m_inProgress);
  m_btnKeep->setEnabled(!path.isEmpty());
  m_btnKeep->setChecked(!path.isEmpty() && zent::IsKept(path.toLocal8Bit().toStdString()));
}

void CRecordingsDlg::KeepSelected(bool keep) {
  const QString path = SelectedPath();
  if (path.isEmpty()) return;
  std::string error;
  if (!zent::SetKept(path.toLocal8Bit().toStdString(), keep, error))
    ShowMessageBox(this,
                   QString("%1 could not be %2: %3").arg(path, keep ? "kept" : "let go", QString::fromLocal8Bit(error)),
                   "Error!");
  UpdateButtons();
}

void CRecordingsDlg::AskForClip() {
  // The selected recording from its seconds before the event, else the last ten minutes.
  QDateTime from = QDateTime::currentDateTime().addSecs(-600), to = QDateTime::currentDateTime();
  if (QTreeWidgetItem* row = RowOf(SelectedPath())) {
    from = row->data(kTime, kPathRole).toDateTime().addMSecs(static_cast<qint64>(-m_eventSeconds * 1000));
    to = from.addSecs(300);
  }
  CClipSpanDlg span(from, to, this);
  if (span.exec() != QDialog::Accepted) return;
  const QString suggested = QFileInfo(m_savePath).absolutePath() + "/" + QFileInfo(m_savePath).completeBaseName() +
                            "_clip_" + span.From().toString("yyyyMMdd_HHmmss") + ".mp4";
  const std::optional<QString> path = m_services.chooseClipFile(this, suggested);
  if (path) SaveClip(span.From(), span.To(), *path);
}

void CRecordingsDlg::SaveClip(const QDateTime& from, const QDateTime& to, const QString& path) {
  // The rows say which recordings there are and when each was asked for: no disk on this thread.
  QList<QTreeWidgetItem*> rows = m_rows.values();
  std::sort(rows.begin(), rows.end(), [](QTreeWidgetItem* a, QTreeWidgetItem* b) {
    return a->data(kTime, kPathRole).toDateTime() < b->data(kTime, kPathRole).toDateTime();
  });
  const auto wall = [](const QDateTime& t) {
    return zent::WallClock::time_point(std::chrono::milliseconds(t.toMSecsSinceEpoch()));
  };
  std::vector<zent::ClipSource> all;
  for (QTreeWidgetItem* row : rows)
    all.push_back({row->data(kPicture, kPathRole).toString().toLocal8Bit().toStdString(),
                   wall(row->data(kTime, kPathRole).toDateTime()), m_eventSeconds});
  if (!m_saver->Save(zent::ClipSourcesAmong(all, wall(from), wall(to)), wall(from), wall(to), path)) return;
  m_btnClip->setEnabled(false);
  m_clipStatus->setText(QString("Saving %1\u2026").arg(path));
}

QString CRecordingsDlg::ClipStatus() const { return m_clipStatus->text(); }

void CRecordingsDlg::UpdateChart() {
  QVector<QDateTime> starts;
  starts.reserve(m_rows.size());
  for (QTreeWidgetItem* row : std::as_const(m_rows)) starts.append(row->data(kTime, kPathRole).toDateTime());
  m_chart->SetEvents(starts, QDateTime::currentDateTime());
}

void CRecordingsDlg::RequestVisibleThumbnails() {
  // Rows scrolled into view jump the queue; rows already done are not asked again.
  for (QTreeWidgetItem* item = m_list->itemAt(0, 0); item; item = m_list->itemBelow(item)) {
    if (m_list->visualItemRect(item).top() > m_list->viewport()->height()) break;
    const QString path = item->data(kPicture, kPathRole).toString();
    if (path.isEmpty() || path == m_inProgress || item->data(kLength, kPathRole).toBool()) continue;
    const QFileInfo file(path);
    m_loader->Request(path, file.size(), file.lastModified().toMSecsSinceEpoch(), true);
  }
}

int CRecordingsDlg::VisibleRowsWaiting() const {
  int waiting = 0;
  for (QTreeWidgetItem* item = m_list->itemAt(0, 0); item; item = m_list->itemBelow(item)) {
    if (m_list->visualItemRect(item).top() > m_list->viewport()->height()) break;
    const QString path = item->data(kPicture, kPathRole).toString();
    waiting += !path.isEmpty() && path != m_inProgress && !item->data(kLength, kPathRole).toBool();
  }
  return waiting;
}

void CRecordingsDlg::OnThumbnail(const QString& path, const QImage& image, double seconds, const QString& error,
                                 bool fromCache) {
  QTreeWidgetItem* row = RowOf(path);
  if (!row || path == m_inProgress || row->data(kLength, kPathRole).toBool()) return;
  row->setData(kLength, kPathRole, true);  // done
  ++m_thumbnailsDone;
  m_fromCache += fromCache;
  if (image.isNull()) {
    row->setIcon(kPicture, Placeholder("?"));
    row->setToolTip(kPicture, QString("%1\nNo picture: %2").arg(path, error));
    row->setText(kLength, seconds > 0 ? LengthText(seconds) : "?");
    return;
  }
  QPixmap pixmap(ThumbnailLoader::Size());
  pixmap.fill(QColor(60, 60, 60));
  QPainter painter(&pixmap);
  painter.drawImage((pixmap.width() - image.width()) / 2, (pixmap.height() - image.height()) / 2, image);
  painter.end();
  row->setIcon(kPicture, pixmap);
  row->setText(kLength, LengthText(seconds));
}

void CRecordingsDlg::ScrollToHour(const QDateTime& hour) {
  // The newest recording of that hour: the list runs newest first.
  const QDateTime end = hour.addSecs(3600);
  QTreeWidgetItem* best = nullptr;
  for (QTreeWidgetItem* row : std::as_const(m_rows)) {
    const QDateTime start = row->data(kTime, kPathRole).toDateTime();
    if (start >= hour && start < end && (!best || start > best->data(kTime, kPathRole).toDateTime())) best = row;
  }
  if (!best) return;
  m_list->setCurrentItem(best);
  m_list->scrollToItem(best, QAbstractItemView::PositionAtTop);
}

void CRecordingsDlg::PlaySelected() {
  const QString path = SelectedPath();
  if (!path.isEmpty()) m_services.openUrl(QUrl::fromLocalFile(path));
}

void CRecordingsDlg::ShowSelectedInFolder() {
  const QString path = SelectedPath();
  if (!path.isEmpty()) m_services.openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

void CRecordingsDlg::DeleteSelected() {
  const QString path = SelectedPath();
  if (path.isEmpty() || path == m_inProgress) return;
  if (!m_services.confirmDelete(this, QString("Move %1 to the trash?").arg(QFileInfo(path).fileName()))) return;
  // Without the data folder Qt cannot make the trash there and moves the file to a "files" folder
  // wherever the program was started: make sure the folder is there first.
  QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
  if (!QFile::moveToTrash(path)) {
    ShowMessageBox(this, QString("%1 could not be moved to the trash.").arg(path), "Error!");
    return;
  }
  std::string ignored;
  zent::SetKept(path.toLocal8Bit().toStdString(), false, ignored);  // a mark with no recording would keep nothing
  RecordingRemoved(path);
}

void CRecordingsDlg::RecordingStarted(const QString& path) {
  RecordingEntry entry;
  if (m_rows.contains(path) || !RecordingEntryOf(path, entry)) return;
  if (QFileInfo(path).absolutePath() != QFileInfo(m_savePath).absolutePath()) return;
  m_inProgress = path;
  AddRow(entry, true, true);
  UpdateChart();
}

void CRecordingsDlg::RecordingSaved(const QString& path) {
  RecordingEntry entry;
  if (!RecordingEntryOf(path, entry)) return;
  if (QFileInfo(path).absolutePath() != QFileInfo(m_savePath).absolutePath()) return;
  if (path == m_inProgress) m_inProgress.clear();
  if (QTreeWidgetItem* row = RowOf(path)) {
    row->setText(kSize, SizeText(entry.size));
    row->setText(kLength, "\u2026");
    row->setIcon(kPicture, Placeholder(QString()));
    row->setData(kLength, kPathRole, false);
  } else {
    AddRow(entry, false, true);
    UpdateChart();
  }
  m_loader->Request(entry.path, entry.size, entry.modified, true);
  UpdateButtons();
}

void CRecordingsDlg::RecordingRemoved(const QString& path) {
  QTreeWidgetItem* row = m_rows.take(path);
  if (!row) return;
  m_loader->Forget(path);
  if (path == m_inProgress) m_inProgress.clear();
  QTreeWidgetItem* day = row->parent();
  delete row;
  if (day && day->childCount() == 0) {
    m_days.remove(m_days.key(day));
    delete day;
  }
  UpdateChart();
  UpdateButtons();
}

void CRecordingsDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();  // the list played it already; the window stays open
    return;
  }
  if (event->key() == Qt::Key_Delete) {
    DeleteSelected();
    return;
  }
  QDialog::keyPressEvent(event);
}
