#pragma once
// Events per hour over the last seven days, as bars; a click on a bar names its hour.

#include <QDateTime>
#include <QVector>
#include <QWidget>

class WeekChart : public QWidget {
  Q_OBJECT

 public:
  explicit WeekChart(QWidget* parent = nullptr);

  // The recordings' start times; those outside the last seven days are not shown.
  void SetEvents(const QVector<QDateTime>& starts, const QDateTime& now);
  // The hour a bar stands for: 0 is the oldest of the 168.
  QDateTime HourAt(int hourIndex) const { return m_firstHour.addSecs(3600LL * hourIndex); }
  int HourIndexAt(int x) const;

 signals:
  void HourClicked(const QDateTime& hour);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QVector<int> m_counts = QVector<int>(7 * 24);
  QDateTime m_firstHour;
};
