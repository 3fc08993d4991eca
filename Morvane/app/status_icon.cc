#include "status_icon.h"

#include <QIconEngine>
#include <QImage>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPixmap>
#include <algorithm>
#include <atomic>
#include <vector>

namespace morvane::StatusIcon {
namespace {

/// The filled parts: cap rim, cap dome, neck, foot and base plate.
/// Each is filled on its own, so overlaps never cancel out.
std::vector<QPainterPath> solidShapes() {
  std::vector<QPainterPath> shapes(5);
  shapes[0].addRoundedRect(QRectF(3.2, 13.0, 11.6, 2.2), 1.1, 1.1);
  shapes[1].addEllipse(QRectF(4.4, 12.6, 9.2, 4.4));
  shapes[2].addRect(QRectF(6.6, 11.3, 4.8, 2.0));
  shapes[3].moveTo(6.2, 4.0);
  shapes[3].lineTo(11.8, 4.0);
  shapes[3].lineTo(12.2, 3.0);
  shapes[3].lineTo(5.8, 3.0);
  shapes[3].closeSubpath();
  shapes[4].addRoundedRect(QRectF(3.0, 1.2, 12.0, 1.8), 0.9, 0.9);
  return shapes;
}

/// Three bands whose control points sag 0.95 below their ends.
QPainterPath bands() {
  QPainterPath path;
  for (double y : {5.6, 7.9, 10.2}) {
    path.moveTo(5.2, y);
    path.cubicTo(7.7, y - 0.95, 10.3, y - 0.95, 12.8, y);
  }
  return path;
}

QPainterPath trailingLine() {
  QPainterPath path;
  path.moveTo(12.9, 10.2);
  path.cubicTo(15.4, 10.3, 16.2, 7.2, 16.2, 4.0);
  path.cubicTo(16.2, 2.6, 16.7, 1.9, 17.6, 1.9);
  path.lineTo(18.8, 1.9);
  return path;
}

/// The whole pictogram as one area: the filled shapes and the outlines of the stroked lines.
QPainterPath pictogram() {
  QPainterPath whole;
  for (const QPainterPath& shape : solidShapes())
    whole.addPath(shape);
  QPainterPathStroker bandStroke;
  bandStroke.setWidth(1.6);
  bandStroke.setCapStyle(Qt::RoundCap);
  whole.addPath(bandStroke.createStroke(bands()));
  QPainterPathStroker lineStroke;
  lineStroke.setWidth(1.4);
  lineStroke.setCapStyle(Qt::RoundCap);
  lineStroke.setJoinStyle(Qt::RoundJoin);
  whole.addPath(lineStroke.createStroke(trailingLine()));
  whole.setFillRule(Qt::WindingFill);
  return whole.simplified();
}

/// Width of the halo around the pictogram, in points.
constexpr double kHalo = 1.2;

std::atomic<Scheme> currentScheme{Scheme::unknown};

class StatusIconEngine : public QIconEngine {
 public:
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    draw(*painter, rect, scheme());
  }

  // The default implementation paints onto an uninitialised pixmap.
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return scaledPixmap(size, mode, state, 1.0);
  }

  // `size` is in device pixels already; `scale` only tags the result.
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale) override {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      draw(painter, QRectF(QPointF(0, 0), QSizeF(image.size())), scheme());
    }
    image.setDevicePixelRatio(scale);
    return QPixmap::fromImage(std::move(image));
  }

  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
  QIconEngine* clone() const override { return new StatusIconEngine; }
  QString key() const override { return QStringLiteral("MorvaneStatusIcon"); }
};

}  // namespace

void draw(QPainter& painter, const QRectF& target, Scheme scheme) {
  static const QPainterPath shape = pictogram();
  const bool dark = scheme == Scheme::dark;
  const QColor ink = dark ? QColor(245, 245, 245) : Qt::black;
  const QColor halo = dark ? QColor(0, 0, 0, 230) : QColor(255, 255, 255, 240);

  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  // The paths are in points with the origin at the bottom left and y growing upward.
  const double scale = std::min(target.width(), target.height()) / kSize;
  painter.translate(target.left(), target.top() + kSize * scale);
  painter.scale(scale, -scale);
  painter.translate(-1.6, 0);

  // The halo first, as a wide outline the pictogram then covers up to its own edge.
  painter.setPen(QPen(halo, 2 * kHalo, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(halo);
  painter.drawPath(shape);
  painter.setPen(Qt::NoPen);
  painter.setBrush(ink);
  painter.drawPath(shape);
  painter.restore();
}

void setScheme(Scheme scheme) {
  currentScheme.store(scheme);
}

Scheme scheme() {
  return currentScheme.load();
}

const QIcon& image() {
  static const QIcon icon(new StatusIconEngine);
  return icon;
}

}  // namespace morvane::StatusIcon
