#include "dbus_menu.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

namespace morvane {
namespace {

/// Panels take "_" for the mark of a mnemonic; "__" shows one.
QString escapedLabel(const std::string& label) {
  QString text = QString::fromStdString(label);
  text.replace(QLatin1Char('_'), QStringLiteral("__"));
  return text;
}

/// Whether two menus hold the same items at the same places, whatever they show.
bool sameShape(const NativeMenuItem& a, const NativeMenuItem& b) {
  if (a.key != b.key || a.children.size() != b.children.size())
    return false;
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!sameShape(a.children[i], b.children[i]))
      return false;
  }
  return true;
}

QVariantMap only(const QVariantMap& all, const QStringList& names) {
  if (names.isEmpty())
    return all;
  QVariantMap chosen;
  for (const QString& name : names) {
    auto found = all.find(name);
    if (found != all.end())
      chosen.insert(name, *found);
  }
  return chosen;
}

}  // namespace

DBusMenu::DBusMenu(Source source, std::function<void()> opening, QObject* parent)
    : QObject(parent), source_(std::move(source)), opening_(std::move(opening)) {
  dbus::registerTypes();
}

int DBusMenu::idOf(const std::string& key) {
  if (key == "root")
    return 0;
  auto [found, added] = ids_.emplace(key, static_cast<int>(ids_.size()) + 1);
  return found->second;
}

void DBusMenu::index(const NativeMenuItem& item) {
  items_[idOf(item.key)] = &item;
  for (const NativeMenuItem& child : item.children)
    index(child);
}

void DBusMenu::ensureBuilt() {
  if (built_)
    return;
  current_ = source_();
  current_.key = "root";
  items_.clear();
  index(current_);
  built_ = true;
}

const NativeMenuItem& DBusMenu::current() {
  ensureBuilt();
  return current_;
}

const NativeMenuItem* DBusMenu::find(int id) const {
  auto found = items_.find(id);
  return found != items_.end() ? found->second : nullptr;
}

QVariantMap DBusMenu::properties(const NativeMenuItem& item) const {
  QVariantMap properties;
  if (item.separator) {
    properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    return properties;
  }
  properties.insert(QStringLiteral("label"), escapedLabel(item.label));
  properties.insert(QStringLiteral("enabled"), item.enabled);
  properties.insert(QStringLiteral("visible"), true);
  if (item.toggle != NativeMenuItem::Toggle::none) {
    properties.insert(QStringLiteral("toggle-type"), item.toggle == NativeMenuItem::Toggle::radio
                                                         ? QStringLiteral("radio")
                                                         : QStringLiteral("checkmark"));
    properties.insert(QStringLiteral("toggle-state"), item.on ? 1 : 0);
  }
  if (!item.children.empty())
    properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
  return properties;
}

void DBusMenu::changed() {
  if (!built_ || updateQueued_)
    return;  // nothing has been shown yet: the first request reads the menu afresh
  updateQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    updateQueued_ = false;
    update();
  });
}

bool DBusMenu::update() {
  if (!built_) {
    ensureBuilt();
    return false;
  }
  NativeMenuItem next = source_();
  next.key = "root";
  if (!sameShape(current_, next)) {
    current_ = std::move(next);
    items_.clear();
    index(current_);
    ++revision_;
    emit LayoutUpdated(revision_, 0);
    return true;
  }
  // The same items: tell only of the properties that changed.
  dbus::MenuItems updated;
  dbus::MenuItemKeysList removed;
  std::map<int, QVariantMap> before;
  for (const auto& [id, item] : items_)
    before.emplace(id, properties(*item));
  current_ = std::move(next);
  items_.clear();
  index(current_);
  for (const auto& [id, item] : items_) {
    const QVariantMap now = properties(*item);
    const QVariantMap& was = before[id];
    QVariantMap changedProperties;
    for (auto property = now.begin(); property != now.end(); ++property) {
      if (was.value(property.key()) != property.value())
        changedProperties.insert(property.key(), property.value());
    }
    QStringList gone;
    for (auto property = was.begin(); property != was.end(); ++property) {
      if (!now.contains(property.key()))
        gone.push_back(property.key());
    }
    if (!changedProperties.isEmpty())
      updated.push_back({id, changedProperties});
    if (!gone.isEmpty())
      removed.push_back({id, gone});
  }
  if (updated.isEmpty() && removed.isEmpty())
    return false;
  emit ItemsPropertiesUpdated(updated, removed);
  return true;
}

std::optional<dbus::MenuLayout> DBusMenu::layout(int id, int depth, const QStringList& names) {
  ensureBuilt();
  const NativeMenuItem* item = find(id);
  if (item == nullptr)
    return std::nullopt;
  dbus::MenuLayout made{id, only(properties(*item), names), {}};
  if (depth != 0) {
    for (const NativeMenuItem& child : item->children)
      made.children.push_back(*layout(idOf(child.key), depth < 0 ? -1 : depth - 1, names));
  }
  return made;
}

bool DBusMenu::click(int id) {
  ensureBuilt();
  const NativeMenuItem* item = find(id);
  if (item == nullptr || !item->enabled || !item->choose)
    return false;
  // Not while the panel waits for the answer: choosing may show an alert, which waits for the
  // user.
  QTimer::singleShot(0, this, [choose = item->choose] { choose(); });
  return true;
}

bool DBusMenu::handle(int id, const QString& eventId) {
  ensureBuilt();
  if (find(id) == nullptr)
    return false;
  if (eventId == QLatin1String("clicked"))
    click(id);
  else if (eventId == QLatin1String("opened") && id == 0 && opening_)
    opening_();
  return true;
}

void DBusMenu::fail(const QString& message) {
  if (calledFromDBus())
    sendErrorReply(QDBusError::InvalidArgs, message);
}

void DBusMenu::failUnknown(int id) {
  fail(QStringLiteral("No menu item numbered %1").arg(id));
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                         dbus::MenuLayout& layout) {
  std::optional<dbus::MenuLayout> made = this->layout(parentId, recursionDepth, propertyNames);
  if (!made)
    failUnknown(parentId);
  else
    layout = std::move(*made);
  return revision_;
}

dbus::MenuItems DBusMenu::GetGroupProperties(const QList<int>& ids,
                                             const QStringList& propertyNames) {
  ensureBuilt();
  dbus::MenuItems found;
  for (int id : ids) {
    if (const NativeMenuItem* item = find(id))
      found.push_back({id, only(properties(*item), propertyNames)});
  }
  return found;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name) {
  ensureBuilt();
  const NativeMenuItem* item = find(id);
  if (item == nullptr) {
    failUnknown(id);
    return QDBusVariant(QVariant(0));
  }
  const QVariantMap all = properties(*item);
  if (!all.contains(name)) {
    fail(QStringLiteral("No property named %1").arg(name));
    return QDBusVariant(QVariant(0));
  }
  return QDBusVariant(all.value(name));
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp) {
  (void)data;
  (void)timestamp;
  if (!handle(id, eventId))
    failUnknown(id);
}

QList<int> DBusMenu::EventGroup(const dbus::MenuEvents& events) {
  QList<int> unknown;
  for (const dbus::MenuEvent& event : events) {
    if (!handle(event.id, event.name))
      unknown.push_back(event.id);
  }
  if (!events.isEmpty() && unknown.size() == events.size())
    fail(QStringLiteral("No such menu items"));
  return unknown;
}

bool DBusMenu::AboutToShow(int id) {
  ensureBuilt();
  if (find(id) == nullptr) {
    failUnknown(id);
    return false;
  }
  if (id == 0 && opening_)
    opening_();
  // A change still waiting for its turn is told now, before the panel draws.
  return updateQueued_ && update();
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
  ensureBuilt();
  for (int id : ids) {
    if (find(id) == nullptr)
      idErrors.push_back(id);
    else if (id == 0 && opening_)
      opening_();
  }
  const bool changedNow = updateQueued_ && update();
  return changedNow ? QList<int>{0} : QList<int>{};
}

}  // namespace morvane
