// The menu handed to the desktop's panel, built from the controller's state with the same texts
// as the menu Morvane draws itself.

#include "native_menu.h"

#include <QActionGroup>
#include <QCoreApplication>
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

/// Adds `item`'s children to `menu` as plain actions and submenus.
void fill(QMenu& menu, const NativeMenuItem& item) {
  QActionGroup* radios = nullptr;
  for (const NativeMenuItem& child : item.children) {
    if (child.separator) {
      menu.addSeparator();
      continue;
    }
    QString title = QString::fromStdString(child.label);
    title.replace(QLatin1Char('&'), QStringLiteral("&&"));
    if (!child.children.empty()) {
      QMenu* submenu = menu.addMenu(title);
      fill(*submenu, child);
      continue;
    }
    QAction* action = menu.addAction(title);
    action->setEnabled(child.enabled);
    if (child.toggle != NativeMenuItem::Toggle::none) {
      action->setCheckable(true);
      action->setChecked(child.on);
    }
    if (child.toggle == NativeMenuItem::Toggle::radio) {
      if (radios == nullptr)
        radios = new QActionGroup(&menu);
      radios->addAction(action);
    }
    if (child.choose)
      QObject::connect(action, &QAction::triggered, &menu, [choose = child.choose] { choose(); });
  }
}

}  // namespace

void AppDelegate::popUpNativeMenu(const QPoint& at) {
  if (nativePopup_ && nativePopup_->isVisible())
    return;
  if (nativePopup_)
    nativePopup_->deleteLater();
  nativePopup_ = new QMenu;
  fill(*nativePopup_, nativeMenu());
  refresh();
  nativePopup_->popup(at);
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
