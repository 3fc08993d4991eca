#pragma once

// The structures a status item and its menu exchange with the desktop's panel over D-Bus, and
// how they are written and read there.

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace morvane::dbus {

/// One picture of the icon, its pixels ARGB32 in network byte order: (iiay).
struct IconPixmap {
  int width = 0;
  int height = 0;
  QByteArray pixels;
};
using IconPixmaps = QList<IconPixmap>;

/// (sa(iiay)ss): icon name, pictures, title, text.
struct ToolTip {
  QString iconName;
  IconPixmaps pixmaps;
  QString title;
  QString text;
};

/// A menu item's properties by number: (ia{sv}).
struct MenuItem {
  int id = 0;
  QVariantMap properties;
};
using MenuItems = QList<MenuItem>;

/// A menu item's properties that went away: (ias).
struct MenuItemKeys {
  int id = 0;
  QStringList names;
};
using MenuItemKeysList = QList<MenuItemKeys>;

/// A menu item with its items below it: (ia{sv}av), each child a variant holding another.
struct MenuLayout {
  int id = 0;
  QVariantMap properties;
  QList<MenuLayout> children;
};

/// Something that happened to a menu item: (isvu).
struct MenuEvent {
  int id = 0;
  QString name;
  QDBusVariant data;
  uint timestamp = 0;
};
using MenuEvents = QList<MenuEvent>;

/// Makes the types known to Qt's D-Bus; called before anything is exported.
void registerTypes();

QDBusArgument& operator<<(QDBusArgument& out, const IconPixmap& value);
const QDBusArgument& operator>>(const QDBusArgument& in, IconPixmap& value);
QDBusArgument& operator<<(QDBusArgument& out, const ToolTip& value);
const QDBusArgument& operator>>(const QDBusArgument& in, ToolTip& value);
QDBusArgument& operator<<(QDBusArgument& out, const MenuItem& value);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItem& value);
QDBusArgument& operator<<(QDBusArgument& out, const MenuItemKeys& value);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemKeys& value);
QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& value);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& value);
QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& value);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& value);

}  // namespace morvane::dbus

Q_DECLARE_METATYPE(morvane::dbus::IconPixmap)
Q_DECLARE_METATYPE(morvane::dbus::ToolTip)
Q_DECLARE_METATYPE(morvane::dbus::MenuItem)
Q_DECLARE_METATYPE(morvane::dbus::MenuItemKeys)
Q_DECLARE_METATYPE(morvane::dbus::MenuLayout)
Q_DECLARE_METATYPE(morvane::dbus::MenuEvent)
