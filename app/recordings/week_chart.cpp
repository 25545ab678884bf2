#include "app/recordings/week_chart.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "record/recording_catalog.h"

namespace {
constexpr int kHours = 7 * 24;
constexpr int kLabelHeight = 14;
}  // namespace

WeekChart::WeekChart(QWidget* parent) : QWidget(parent) {
  setObjectName("weekChart");
  setMinimumHeight(70);
  setToolTip("Events per hour over the last seven days; click a bar to go to its hour");
}

void WeekChart::SetEvents(const QVector<QDateTime>& starts, const QDateTime& now) {
  const QDateTime thisHour(now.date(), QTime(now.time().hour(), 0));
  m_firstHour = thisHour.addSecs(-3600LL * (kHours - 1));
  std::vector<zent::RecordingStamp> stamps;
  stamps.reserve(static_cast<std::size_t>(starts.size()));
  for (const QDateTime& start : starts) {
    const QDate date = start.date();
    const QTime time = start.time();
    stamps.push_back({date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()});
  }
  const std::vector<int> counts = zent::CountLastWeek(stamps, static_cast<std::time_t>(now.toSecsSinceEpoch()));
  m_counts = QVector<int>(counts.begin(), counts.end());
  update();
}

int WeekChart::HourIndexAt(int x) const {
  if (width() <= 0) return -1;
  return std::clamp(x * kHours / width(), 0, kHours - 1);
}

void WeekChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().base());
  const int top = 4, bottom = height() - kLabelHeight;
  const int most = std::max(1, *std::max_element(m_counts.begin(), m_counts.end()));
  const double barWidth = static_cast<double>(width()) / kHours;
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(54, 143, 159));
  for (int i = 0; i < kHours; ++i) {
    if (m_counts[i] == 0) continue;
    const int barHeight = std::max(2, (bottom - top) * m_counts[i] / most);
    painter.drawRect(QRectF(i * barWidth, bottom - barHeight, std::max(1.0, barWidth - 1), barHeight));
  }
  // A line and the weekday at each midnight.
  painter.setPen(palette().color(QPalette::Mid));
  for (int i = 0; i < kHours; ++i) {
    const QDateTime hour = HourAt(i);
    if (hour.time().hour() != 0) continue;
    const int x = static_cast<int>(i * barWidth);
    painter.drawLine(x, top, x, bottom);
    painter.drawText(QRect(x + 2, bottom, 60, kLabelHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     hour.date().toString("ddd d"));
  }
}

void WeekChart::mousePressEvent(QMouseEvent* event) {
  const int index = HourIndexAt(static_cast<int>(event->position().x()));
  if (index >= 0 && m_counts[index] > 0) emit HourClicked(HourAt(index));
}
