#include "status_notifier_types.h"

#include <QDBusMetaType>

namespace morvane::dbus {

void registerTypes() {
  qDBusRegisterMetaType<IconPixmap>();
  qDBusRegisterMetaType<IconPixmaps>();
  qDBusRegisterMetaType<ToolTip>();
  qDBusRegisterMetaType<MenuItem>();
  qDBusRegisterMetaType<MenuItems>();
  qDBusRegisterMetaType<MenuItemKeys>();
  qDBusRegisterMetaType<MenuItemKeysList>();
  qDBusRegisterMetaType<MenuLayout>();
  qDBusRegisterMetaType<MenuEvent>();
  qDBusRegisterMetaType<MenuEvents>();
  // Signals and slots name the lists by these names.
  qRegisterMetaType<IconPixmaps>("morvane::dbus::IconPixmaps");
  qRegisterMetaType<MenuItems>("morvane::dbus::MenuItems");
  qRegisterMetaType<MenuItemKeysList>("morvane::dbus::MenuItemKeysList");
  qRegisterMetaType<MenuEvents>("morvane::dbus::MenuEvents");
}

QDBusArgument& operator<<(QDBusArgument& out, const IconPixmap& value) {
  out.beginStructure();
  out << value.width << value.height << value.pixels;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, IconPixmap& value) {
  in.beginStructure();
  in >> value.width >> value.height >> value.pixels;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const ToolTip& value) {
  out.beginStructure();
  out << value.iconName << value.pixmaps << value.title << value.text;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, ToolTip& value) {
  in.beginStructure();
  in >> value.iconName >> value.pixmaps >> value.title >> value.text;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuItem& value) {
  out.beginStructure();
  out << value.id << value.properties;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuItem& value) {
  in.beginStructure();
  in >> value.id >> value.properties;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuItemKeys& value) {
  out.beginStructure();
  out << value.id << value.names;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemKeys& value) {
  in.beginStructure();
  in >> value.id >> value.names;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& value) {
  out.beginStructure();
  out << value.id << value.properties;
  out.beginArray(qMetaTypeId<QDBusVariant>());
  for (const MenuLayout& child : value.children)
    out << QDBusVariant(QVariant::fromValue(child));
  out.endArray();
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& value) {
  in.beginStructure();
  in >> value.id >> value.properties;
  value.children.clear();
  in.beginArray();
  while (!in.atEnd()) {
    QDBusVariant child;
    in >> child;
    value.children.push_back(qdbus_cast<MenuLayout>(child.variant()));
  }
  in.endArray();
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuEvent& value) {
  out.beginStructure();
  out << value.id << value.name << value.data << value.timestamp;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuEvent& value) {
  in.beginStructure();
  in >> value.id >> value.name >> value.data >> value.timestamp;
  in.endStructure();
  return in;
}

}  // namespace morvane::dbus
