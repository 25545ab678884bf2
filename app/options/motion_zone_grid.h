#pragma once
// The watched zones of a camera's picture: a 16 x 9 grid over its snapshot. A click turns a cell
// on or off, a drag paints the same over the cells it crosses.

#include <QImage>
#include <QWidget>

#include "motion/motion_detector.h"

class MotionZoneGrid : public QWidget {
  Q_OBJECT

 public:
  explicit MotionZoneGrid(QWidget* parent = nullptr);

  void SetZones(const zent::MotionZones& zones);
  zent::MotionZones Zones() const { return m_zones; }
  // The camera's picture under the grid; a null image shows the grid alone.
  void SetPicture(const QImage& picture);
  bool HasPicture() const { return !m_picture.isNull(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  int CellAt(QPoint point) const;  // -1 outside the grid
  void Paint(QPoint point);

  zent::MotionZones m_zones = zent::MotionZones().set();
  QImage m_picture;
  bool m_painting = true;  // what a drag sets: watched or not
};
