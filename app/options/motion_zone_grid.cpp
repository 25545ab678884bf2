#include "app/options/motion_zone_grid.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kCellPixels = 24;

}  // namespace

MotionZoneGrid::MotionZoneGrid(QWidget* parent) : QWidget(parent) {
  setFixedSize(zent::kZoneColumns * kCellPixels + 1, zent::kZoneRows * kCellPixels + 1);
  setCursor(Qt::PointingHandCursor);
  setToolTip("Click or drag over the cells that are not to be watched (shaded), and again to watch them.");
}

void MotionZoneGrid::SetZones(const zent::MotionZones& zones) {
  m_zones = zones;
  update();
}

void MotionZoneGrid::SetPicture(const QImage& picture) {
  m_picture = picture;
  update();
}

int MotionZoneGrid::CellAt(QPoint point) const {
  const int column = point.x() / kCellPixels, row = point.y() / kCellPixels;
  if (point.x() < 0 || point.y() < 0 || column >= zent::kZoneColumns || row >= zent::kZoneRows) return -1;
  return row * zent::kZoneColumns + column;
}

void MotionZoneGrid::Paint(QPoint point) {
  const int cell = CellAt(point);
  if (cell < 0 || m_zones[static_cast<std::size_t>(cell)] == m_painting) return;
  m_zones[static_cast<std::size_t>(cell)] = m_painting;
  update();
}

void MotionZoneGrid::mousePressEvent(QMouseEvent* event) {
  const int cell = CellAt(event->position().toPoint());
  if (cell < 0) return;
  m_painting = !m_zones[static_cast<std::size_t>(cell)];
  Paint(event->position().toPoint());
}

void MotionZoneGrid::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) Paint(event->position().toPoint());
}

void MotionZoneGrid::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area(0, 0, zent::kZoneColumns * kCellPixels, zent::kZoneRows * kCellPixels);
  if (m_picture.isNull()) painter.fillRect(area, QColor(64, 64, 64));
  else painter.drawImage(area, m_picture);
  for (int row = 0; row < zent::kZoneRows; ++row)
    for (int column = 0; column < zent::kZoneColumns; ++column)
      if (!m_zones[static_cast<std::size_t>(row * zent::kZoneColumns + column)])
        painter.fillRect(column * kCellPixels, row * kCellPixels, kCellPixels, kCellPixels, QColor(160, 0, 0, 150));
  painter.setPen(QColor(255, 255, 255, 110));
  for (int column = 0; column <= zent::kZoneColumns; ++column)
    painter.drawLine(column * kCellPixels, 0, column * kCellPixels, area.height());
  for (int row = 0; row <= zent::kZoneRows; ++row)
    painter.drawLine(0, row * kCellPixels, area.width(), row * kCellPixels);
}
