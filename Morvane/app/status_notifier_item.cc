#include "status_notifier_item.h"

#include <QImage>
#include <QTimer>
#include <QtEndian>

namespace morvane {

StatusNotifierItem::StatusNotifierItem(QString id, QString menuPath, bool itemIsMenu,
                                       Handlers handlers, QObject* parent)
    : QObject(parent),
      id_(std::move(id)),
      menuPath_(std::move(menuPath)),
      itemIsMenu_(itemIsMenu),
      handlers_(std::move(handlers)) {
  dbus::registerTypes();
}

dbus::IconPixmaps StatusNotifierItem::pixmapsOf(const QIcon& icon) {
  dbus::IconPixmaps pixmaps;
  for (int size : {16, 22, 24, 32, 48}) {
    const QImage image = icon.pixmap(size, size)
                             .toImage()
                             .scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_ARGB32);
    QByteArray pixels(static_cast<qsizetype>(size) * size * 4, Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(pixels.data());
    for (int y = 0; y < size; ++y) {
      const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
      for (int x = 0; x < size; ++x, out += 4)
        qToBigEndian<quint32>(line[x], out);
    }
    pixmaps.push_back({size, size, std::move(pixels)});
  }
  return pixmaps;
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
  pixmaps_ = pixmapsOf(icon);
  emit NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& text) {
  if (text == toolTip_)
    return;
  toolTip_ = text;
  emit NewToolTip();
}

dbus::ToolTip StatusNotifierItem::toolTip() const {
  return {QString(), {}, toolTip_, QString()};
}

// The panel waits for the answer to a click: what it asks for runs once it has it, since it
// may open a menu or a window.

void StatusNotifierItem::Activate(int x, int y) {
  if (handlers_.activate)
    QTimer::singleShot(0, this, [this, x, y] { handlers_.activate(x, y); });
}

void StatusNotifierItem::SecondaryActivate(int x, int y) {
  if (handlers_.secondaryActivate)
    QTimer::singleShot(0, this, [this, x, y] { handlers_.secondaryActivate(x, y); });
}

void StatusNotifierItem::ContextMenu(int x, int y) {
  if (handlers_.contextMenu)
    QTimer::singleShot(0, this, [this, x, y] { handlers_.contextMenu(x, y); });
}

void StatusNotifierItem::Scroll(int delta, const QString& orientation) {
  // Nothing here changes by degrees.
  (void)delta;
  (void)orientation;
}

}  // namespace morvane
