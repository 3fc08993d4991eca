#pragma once

#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>

#include "status_notifier_types.h"

namespace morvane {

/// The status item as the desktop's panel sees it over D-Bus (org.kde.StatusNotifierItem): the
/// icon's pictures, its tooltip, where its menu is, and what the panel's clicks ask for.
class StatusNotifierItem : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
  Q_PROPERTY(QString Category READ category)
  Q_PROPERTY(QString Id READ id)
  Q_PROPERTY(QString Title READ title)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(int WindowId READ windowId)
  Q_PROPERTY(QString IconName READ noName)
  Q_PROPERTY(morvane::dbus::IconPixmaps IconPixmap READ iconPixmap)
  Q_PROPERTY(QString OverlayIconName READ noName)
  Q_PROPERTY(morvane::dbus::IconPixmaps OverlayIconPixmap READ noPixmaps)
  Q_PROPERTY(QString AttentionIconName READ noName)
  Q_PROPERTY(morvane::dbus::IconPixmaps AttentionIconPixmap READ noPixmaps)
  Q_PROPERTY(QString AttentionMovieName READ noName)
  Q_PROPERTY(QString IconThemePath READ noName)
  Q_PROPERTY(morvane::dbus::ToolTip ToolTip READ toolTip)
  Q_PROPERTY(QDBusObjectPath Menu READ menu)
  Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)

 public:
  /// What the panel's clicks ask for; the point is where on the screen, as the panel says.
  struct Handlers {
    std::function<void(int x, int y)> activate;
    std::function<void(int x, int y)> contextMenu;
    std::function<void(int x, int y)> secondaryActivate;
  };

  /// `menuPath` is where the item's menu is exported; `itemIsMenu` asks panels to show that
  /// menu on a click instead of telling the item.
  StatusNotifierItem(QString id, QString menuPath, bool itemIsMenu, Handlers handlers,
                     QObject* parent = nullptr);

  void setIcon(const QIcon& icon);
  void setToolTip(const QString& text);

  QString category() const { return QStringLiteral("ApplicationStatus"); }
  QString id() const { return id_; }
  QString title() const { return QStringLiteral("Morvane"); }
  QString status() const { return QStringLiteral("Active"); }
  int windowId() const { return 0; }
  QString noName() const { return {}; }
  dbus::IconPixmaps iconPixmap() const { return pixmaps_; }
  dbus::IconPixmaps noPixmaps() const { return {}; }
  dbus::ToolTip toolTip() const;
  QDBusObjectPath menu() const { return QDBusObjectPath(menuPath_); }
  bool itemIsMenu() const { return itemIsMenu_; }

  /// The icon's pictures at the sizes panels use, as the item hands them over.
  static dbus::IconPixmaps pixmapsOf(const QIcon& icon);

 public slots:
  void Activate(int x, int y);
  void SecondaryActivate(int x, int y);
  void ContextMenu(int x, int y);
  void Scroll(int delta, const QString& orientation);

 signals:
  void NewTitle();
  void NewIcon();
  void NewAttentionIcon();
  void NewOverlayIcon();
  void NewToolTip();
  void NewStatus(const QString& status);

 private:
  QString id_;
  QString menuPath_;
  bool itemIsMenu_;
  Handlers handlers_;
  dbus::IconPixmaps pixmaps_;
  QString toolTip_;
};

}  // namespace morvane
