#include "res/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap DrawCamera(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  const QColor teal(54, 143, 159);
  // Body, lens hood and a red recording light on a 32 × 32 grid.
  p.setPen(QPen(QColor(20, 60, 70), 1.2));
  p.setBrush(teal);
  p.drawRoundedRect(QRectF(3, 9, 20, 15), 3, 3);
  QPainterPath hood;
  hood.moveTo(23, 13);
  hood.lineTo(30, 9);
  hood.lineTo(30, 24);
  hood.lineTo(23, 20);
  hood.closeSubpath();
  p.drawPath(hood);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(13, 16.5), 4.5, 4.5);
  p.setBrush(QColor(20, 60, 70));
  p.drawEllipse(QPointF(13, 16.5), 2, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(220, 40, 40));
  p.drawEllipse(QPointF(6.5, 12), 1.6, 1.6);
  return pixmap;
}

}  // namespace

QIcon LoadAppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(DrawCamera(size));
  return icon;
}
