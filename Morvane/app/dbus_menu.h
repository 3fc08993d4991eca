#pragma once

#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>
#include <functional>
#include <map>
#include <string>

#include "native_menu.h"
#include "status_notifier_types.h"

namespace morvane {

/// A status item's menu handed to the desktop's panel over D-Bus (com.canonical.dbusmenu), so
/// that panels which draw the menus of their items themselves can show it.
///
/// The menu is read from `source` whenever the controller says it changed, and the panel hears
/// only what it shows differently: the properties of items that changed, or a new layout when
/// items came or went. Every item keeps one number for the life of the process (the number of
/// its key), so a click on an item of an older layout still means the same item.
class DBusMenu : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
  Q_PROPERTY(uint Version READ version)
  Q_PROPERTY(QString TextDirection READ textDirection)
  Q_PROPERTY(QString Status READ status)
  Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

 public:
  using Source = std::function<NativeMenuItem()>;

  /// `opening` hears when the panel is about to show the menu.
  DBusMenu(Source source, std::function<void()> opening, QObject* parent = nullptr);

  /// The menu's state changed; the panel hears of it at the next turn of the event loop.
  void changed();
  /// Reads the menu again now and tells the panel what it shows differently; true when
  /// anything did.
  bool update();

  /// The menu as the panel sees it now.
  const NativeMenuItem& current();
  /// The layout below the item numbered `id`, `depth` levels deep (-1: all), with the
  /// properties named (all when none is).
  std::optional<dbus::MenuLayout> layout(int id, int depth, const QStringList& names);
  /// Chooses the item numbered `id` as a click on it would, at the next turn of the event
  /// loop; false when there is no such item or it cannot be chosen.
  bool click(int id);

  uint version() const { return 3; }
  QString textDirection() const { return QStringLiteral("ltr"); }
  QString status() const { return QStringLiteral("normal"); }
  QStringList iconThemePath() const { return {}; }

 public slots:
  uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                 morvane::dbus::MenuLayout& layout);
  morvane::dbus::MenuItems GetGroupProperties(const QList<int>& ids,
                                              const QStringList& propertyNames);
  QDBusVariant GetProperty(int id, const QString& name);
  void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
  QList<int> EventGroup(const morvane::dbus::MenuEvents& events);
  bool AboutToShow(int id);
  QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

 signals:
  void ItemsPropertiesUpdated(const morvane::dbus::MenuItems& updatedProps,
                              const morvane::dbus::MenuItemKeysList& removedProps);
  void LayoutUpdated(uint revision, int parent);
  void ItemActivationRequested(int id, uint timestamp);

 private:
  /// The number of the item with `key`, given out on first sight.
  int idOf(const std::string& key);
  /// Builds the menu for the first time when nothing has asked for it yet.
  void ensureBuilt();
  void index(const NativeMenuItem& item);
  const NativeMenuItem* find(int id) const;
  QVariantMap properties(const NativeMenuItem& item) const;
  /// Handles one event; false for an item that is not there.
  bool handle(int id, const QString& eventId);
  /// Answers the D-Bus call being handled with an error.
  void fail(const QString& message);
  void failUnknown(int id);

  Source source_;
  std::function<void()> opening_;
  NativeMenuItem current_;
  bool built_ = false;
  bool updateQueued_ = false;
  uint revision_ = 1;
  std::map<std::string, int> ids_;
  std::map<int, const NativeMenuItem*> items_;
};

}  // namespace morvane
