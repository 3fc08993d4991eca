// The menu handed to the desktop's panel, built from the controller's state with the same texts
// as the menu Morvane draws itself.

#include "native_menu.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <algorithm>

#include "app_delegate.h"
#include "display_text.h"
#include "language.h"
#include "login_item.h"
#include "menu_texts.h"

namespace morvane {

bool NativeMenuItem::looksLike(const NativeMenuItem& other) const {
  if (key != other.key || separator != other.separator || label != other.label ||
      enabled != other.enabled || toggle != other.toggle || on != other.on ||
      static_cast<bool>(choose) != static_cast<bool>(other.choose) ||
      children.size() != other.children.size())
    return false;
  for (size_t i = 0; i < children.size(); ++i) {
    if (!children[i].looksLike(other.children[i]))
      return false;
  }
  return true;
}

namespace NativeMenu {
namespace {

NativeMenuItem submenu(std::string key, const std::string& part,
                       std::vector<AgentEntry>::iterator first,
                       std::vector<AgentEntry>::iterator last) {
  NativeMenuItem item;
  item.key = std::move(key);
  const std::string& from = first->name;
  const std::string& to = std::prev(last)->name;
  item.label = part + (std::next(first) == last ? from : from + " – " + to);
  for (auto entry = first; entry != last; ++entry)
    item.children.push_back(std::move(entry->item));
  return item;
}

}  // namespace

std::vector<NativeMenuItem> agentItems(std::vector<AgentEntry> agents) {
  std::vector<NativeMenuItem> items;
  if (agents.size() <= kAgentsInline) {
    for (AgentEntry& agent : agents)
      items.push_back(std::move(agent.item));
    return items;
  }
  std::stable_sort(agents.begin(), agents.end(), [](const AgentEntry& a, const AgentEntry& b) {
    if (a.loaded != b.loaded)
      return a.loaded;
    return QString::fromStdString(a.name).compare(QString::fromStdString(b.name),
                                                  Qt::CaseInsensitive) < 0;
  });
  const auto others = std::find_if(agents.begin(), agents.end(),
                                   [](const AgentEntry& agent) { return !agent.loaded; });
  const std::pair<std::vector<AgentEntry>::iterator, std::vector<AgentEntry>::iterator> parts[] = {
      {agents.begin(), others}, {others, agents.end()}};
  for (const auto& [begin, end] : parts) {
    const bool loaded = begin == agents.begin() && begin != others;
    const std::string part = loaded ? L("已加载：", "Loaded: ") : L("未加载：", "Not loaded: ");
    size_t number = 0;
    for (auto first = begin; first != end; ++number) {
      const auto last = first + std::min<ptrdiff_t>(kAgentsPerSubmenu, end - first);
      items.push_back(
          submenu((loaded ? "loaded:" : "others:") + std::to_string(number), part, first, last));
      first = last;
    }
  }
  return items;
}

}  // namespace NativeMenu

namespace {

NativeMenuItem item(std::string key, std::string label, std::function<void()> choose = {}) {
  NativeMenuItem made;
  made.key = std::move(key);
  made.label = std::move(label);
  made.enabled = static_cast<bool>(choose);
  made.choose = std::move(choose);
  return made;
}

NativeMenuItem separator(std::string key) {
  NativeMenuItem made;
  made.key = std::move(key);
  made.separator = true;
  return made;
}

/// The text of an item's action: an ampersand is shown, not taken for a shortcut's mark.
QString actionText(const NativeMenuItem& item) {
  QString text = QString::fromStdString(item.label);
  text.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return text;
}

/// Makes `action` show `item` and do what choosing it does, in place of what it did before.
void showIn(QAction& action, const NativeMenuItem& item) {
  action.setText(actionText(item));
  if (!item.children.empty())
    return;
  action.setEnabled(item.enabled);
  action.setCheckable(item.toggle != NativeMenuItem::Toggle::none);
  action.setChecked(item.toggle != NativeMenuItem::Toggle::none && item.on);
  // The connection lives as long as its context, a child of the action made anew each time.
  static const QString kChoice = QStringLiteral("choice");
  delete action.findChild<QObject*>(kChoice, Qt::FindDirectChildrenOnly);
  if (item.choose) {
    auto* choice = new QObject(&action);
    choice->setObjectName(kChoice);
    QObject::connect(&action, &QAction::triggered, choice, [choose = item.choose] { choose(); });
  }
}

/// What an action holds: a separator, a submenu or a plain item.
enum class Kind { separator, submenu, plain };

Kind kindOf(const NativeMenuItem& item) {
  return item.separator ? Kind::separator : (!item.children.empty() ? Kind::submenu : Kind::plain);
}

Kind kindOf(const QAction& action) {
  return action.isSeparator() ? Kind::separator
                              : (action.menu() != nullptr ? Kind::submenu : Kind::plain);
}

bool standsFor(const QAction& action, const NativeMenuItem& item) {
  return action.data().toString().toStdString() == item.key && kindOf(action) == kindOf(item);
}

/// A new action of `menu` showing `item`, not yet in it.
QAction* made(QMenu& menu, const NativeMenuItem& item) {
  QAction* action = nullptr;
  switch (kindOf(item)) {
    case Kind::separator:
      action = new QAction(&menu);
      action->setSeparator(true);
      break;
    case Kind::submenu:
      action = (new QMenu(&menu))->menuAction();
      break;
    case Kind::plain:
      action = new QAction(&menu);
      if (item.toggle == NativeMenuItem::Toggle::radio) {
        auto* radios = menu.findChild<QActionGroup*>(QString(), Qt::FindDirectChildrenOnly);
        (radios != nullptr ? radios : new QActionGroup(&menu))->addAction(action);
      }
      break;
  }
  action->setData(QString::fromStdString(item.key));
  return action;
}

/// Makes `menu` show `item`'s children, as plain actions and submenus. The actions it holds
/// already for the same items are kept and shown anew, in their new order: an open menu, and
/// an open submenu of it, stay where they are while their texts and marks change and items
/// come and go around them.
void refill(QMenu& menu, const NativeMenuItem& item) {
  for (size_t i = 0; i < item.children.size(); ++i) {
    const NativeMenuItem& child = item.children[i];
    const QList<QAction*> actions = menu.actions();
    const auto position = static_cast<qsizetype>(i);
    QAction* before = position < actions.size() ? actions[position] : nullptr;
    QAction* action = before;
    if (before == nullptr || !standsFor(*before, child)) {
      const auto kept =
          std::find_if(actions.begin() + std::min(position, actions.size()), actions.end(),
                       [&](const QAction* held) { return standsFor(*held, child); });
      if (kept != actions.end()) {
        action = *kept;
        menu.removeAction(action);
      } else {
        action = made(menu, child);
      }
      menu.insertAction(before, action);
    }
    if (!child.separator)
      showIn(*action, child);
    if (QMenu* submenu = action->menu())
      refill(*submenu, child);
  }
  // What is left after them is gone from the menu.
  const QList<QAction*> actions = menu.actions();
  for (auto gone = actions.begin() + static_cast<qsizetype>(item.children.size());
       gone != actions.end(); ++gone) {
    menu.removeAction(*gone);
    if (QMenu* submenu = (*gone)->menu())
      submenu->deleteLater();
    else
      (*gone)->deleteLater();
  }
}

}  // namespace

void AppDelegate::popUpNativeMenu(const QPoint& at) {
  // A second click on the icon closes the menu, as it closes a panel's menu.
  if (nativePopup_ && nativePopup_->isVisible()) {
    nativePopup_->hide();
    return;
  }
  if (nativePopup_)
    nativePopup_->deleteLater();
  nativePopup_ = new QMenu;
  refill(*nativePopup_, nativeMenu());
  // Where the compositor places the menu as a window of its own (Wayland, without a window to
  // hang it from), a click elsewhere takes the keyboard from it, and closes it as it would a
  // menu.
  connect(qGuiApp, &QGuiApplication::applicationStateChanged, nativePopup_,
          [popup = nativePopup_.data()](Qt::ApplicationState state) {
            if (state != Qt::ApplicationActive)
              popup->hide();
          });
  refresh();
  nativePopup_->popup(at);
}

void AppDelegate::updateNativePopup() {
  if (nativePopup_ && nativePopup_->isVisible())
    refill(*nativePopup_, nativeMenu());
}

NativeMenuItem AppDelegate::nativeMenu() {
  QPointer<AppDelegate> self(this);
  NativeMenuItem root;
  root.key = "root";
  std::vector<NativeMenuItem>& items = root.children;

  items.push_back(item("header", MenuTexts::header(agents, !agentsUnknown)));
  if (busy)
    items.push_back(item("status", MenuTexts::busyLine(*busy)));
  else if (note)
    items.push_back(item("status", *note));
  items.push_back(separator("separator:agents"));

  if (agentsUnknown) {
    items.push_back(item("agents:unknown", *agentsUnknown));
  } else if (agents.empty()) {
    items.push_back(item("agents:none", MenuTexts::noAgents()));
  } else {
    std::vector<NativeMenu::AgentEntry> entries;
    entries.reserve(agents.size());
    for (const Agent& agent : agents) {
      const auto request = pending.find(agent.label);
      const auto failure = failures.find(agent.label);
      const std::string name = singleLine(displayName(agent.label)).toStdString();
      const std::optional<QString> detail =
          MenuTexts::agentDetail(agent, failure != failures.end() ? &failure->second : nullptr,
                                 invalidAgents.contains(agent.path));
      NativeMenuItem row;
      row.key = "agent:" + agent.path;
      row.label = detail ? name + " · " + detail->toStdString() : name;
      row.toggle = NativeMenuItem::Toggle::check;
      row.on = request != pending.end() ? request->second : agent.loaded;
      // Frozen while its own operation runs, as the row's switch is.
      row.enabled = request == pending.end();
      if (row.enabled) {
        row.choose = [self, agent] {
          if (self)
            self->setLoaded(agent, !agent.loaded);
        };
      }
      entries.push_back({std::move(row), name, agent.loaded});
    }
    for (NativeMenuItem& agentItem : NativeMenu::agentItems(std::move(entries)))
      items.push_back(std::move(agentItem));
  }
  items.push_back(separator("separator:actions"));

  items.push_back(item("new", MenuTexts::newAgent(), [self] {
    if (self)
      self->showNewAgentWindow();
  }));
  items.push_back(item("folder", MenuTexts::openFolder(), [self] {
    if (self)
      self->openAgentsFolder();
  }));
  items.push_back(separator("separator:settings"));

  const std::string appPath = bundle_.path.string();
  const bool on = LoginItem::isEnabled();
  NativeMenuItem login = item("login", MenuTexts::launchAtLogin(), [self, on, appPath] {
    if (self)
      self->setLaunchAtLogin(!on, appPath);
  });
  login.enabled = appPath.ends_with(".app");
  login.toggle = NativeMenuItem::Toggle::check;
  login.on = on;
  items.push_back(std::move(login));

  const bool notifying = settings().value().notifyOnFailure;
  NativeMenuItem notify = item("notify", MenuTexts::notifyOnFailure(), [self, notifying] {
    if (self)
      self->setNotifyOnFailure(!notifying);
  });
  notify.enabled = true;
  notify.toggle = NativeMenuItem::Toggle::check;
  notify.on = notifying;
  items.push_back(std::move(notify));

  NativeMenuItem language = item("language", MenuTexts::language());
  language.enabled = true;
  const std::optional<std::string> current = settings().value().language;
  for (const auto& [title, preference] : MenuTexts::languageOptions()) {
    NativeMenuItem option =
        item("language:" + preference.value_or("system"), title, [self, preference] {
          if (self)
            self->chooseLanguage(preference);
        });
    option.toggle = NativeMenuItem::Toggle::radio;
    option.on = preference == current;
    language.children.push_back(std::move(option));
  }
  items.push_back(std::move(language));
  items.push_back(separator("separator:update"));

  auto [title, handler] = updateChoice();
  items.push_back(item("update", std::move(title), std::move(handler)));
  items.push_back(item("quit", MenuTexts::quit(), [] { QCoreApplication::quit(); }));
  return root;
}

}  // namespace morvane
