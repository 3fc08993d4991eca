// The status menu, built from scratch from the controller's state each time it is shown or
// that state changes while it is open.

#include <QApplication>
#include <QPointer>
#include <QToolTip>
#include <limits>

#include "action_item.h"
#include "agents.h"
#include "app_delegate.h"
#include "display_text.h"
#include "language.h"
#include "login_item.h"
#include "schedule_text.h"
#include "search_item.h"
#include "signal_names.h"
#include "switch_row.h"
#include "switch_row_item.h"

namespace morvane {
namespace {

/// Titles longer than the widest row are cut in the middle.
ActionItem* actionItem(QMenu& menu, const std::string& title, ActionItem::Handler handler = {},
                       bool marked = false) {
  auto* item = new ActionItem(menuTitle(title, menu.font(), SwitchRow::kMaxWidth),
                              std::move(handler), marked, &menu);
  menu.addAction(item);
  return item;
}

/// The counts; "?" for the loaded one when the loaded state is unknown.
std::string header(const std::vector<Agent>& agents, bool loadedKnown) {
  const auto total = std::to_string(agents.size());
  const auto loaded =
      loadedKnown ? std::to_string(std::count_if(agents.begin(), agents.end(),
                                                 [](const Agent& agent) { return agent.loaded; }))
                  : std::string("?");
  return L([&] { return "启动项 · 共 " + total + " 个，已加载 " + loaded + " 个"; },
           [&] { return "Launch Agents · " + loaded + " of " + total + " loaded"; });
}

/// "exited 3", or "killed by SIGKILL" for a job a signal ended.
std::string exitText(int64_t status) {
  const std::string number = std::to_string(status);
  if (status < 0 && status != std::numeric_limits<int64_t>::min()) {
    if (std::optional<std::string> name = signalName(-status))
      return L([&] { return "被 " + *name + " 终止"; }, [&] { return "killed by " + *name; });
  }
  return L([&] { return "退出码 " + number; }, [&] { return "exited " + number; });
}

/// "pid 4242 · disabled", then how a failed agent ended and when it next starts; absent when
/// there is nothing to say.
std::optional<QString> agentDetail(const Agent& agent, const FailedExit* failed,
                                   const std::optional<std::string>& nextRun) {
  std::vector<std::string> parts;
  if (agent.pid)
    parts.push_back("pid " + std::to_string(*agent.pid));
  if (agent.disabled)
    parts.push_back(L("已停用", "disabled"));
  if (failed != nullptr)
    parts.push_back(exitText(failed->status));
  if (nextRun)
    parts.push_back(*nextRun);
  if (parts.empty())
    return std::nullopt;
  std::string detail = parts.front();
  for (size_t i = 1; i < parts.size(); ++i)
    detail += " · " + parts[i];
  return QString::fromStdString(detail);
}

/// Empties the menu. The old items go at the next turn of the event loop, not now: the
/// rebuild may run inside the click handler of one of their rows.
void releaseItems(QMenu& menu) {
  for (QAction* action : menu.actions()) {
    menu.removeAction(action);
    if (QMenu* submenu = action->menu())
      submenu->deleteLater();
    action->deleteLater();
  }
}

}  // namespace

void AppDelegate::rebuildMenu() {
  changeOpenMenu([this] { buildMenuItems(); });
}

void AppDelegate::changeOpenMenu(const std::function<void()>& change) {
  // A shown QMenu lays all its items out again after every single item added, removed, shown or
  // hidden, which makes rebuilding or filtering an open menu quadratic in its rows (a tenth of a
  // second for 200 agents), and it then grows past the screen instead of scrolling. So it is
  // told it is not shown while the items change, and is then placed again as at opening: laid
  // out once, within the screen.
  const bool shown = menu.isVisible();
  if (shown)
    menu.setAttribute(Qt::WA_WState_Visible, false);
  change();
  if (shown) {
    menu.setAttribute(Qt::WA_WState_Visible, true);
    replacingMenu_ = true;
    menu.popup(menu.pos());
    replacingMenu_ = false;
    // Placed again at the same size, the menu gets no paint of its own: its painted texts (the
    // header, the status line) would keep their old words until it is next opened.
    menu.update();
  }
  // The search field takes the keyboard; a menu about to open gives it focus once shown.
  if (searchField_)
    searchField_->setFocus(Qt::PopupFocusReason);
}

void AppDelegate::buildMenuItems() {
  releaseItems(menu);

  actionItem(menu, header(agents, !agentsUnknown));
  if (busy)
    actionItem(menu, "⏳ " + *busy + "…");
  else if (note)
    actionItem(menu, *note);
  menu.addSeparator();

  filterRows_.clear();
  searchField_ = nullptr;
  noMatch_ = nullptr;
  if (agentsUnknown) {
    // One line instead of rows that would all show "off": what is loaded is not known.
    actionItem(menu, *agentsUnknown);
  } else if (agents.empty()) {
    actionItem(menu, L("~/Library/LaunchAgents 里没有启动项",
                       "No launch agents in ~/Library/LaunchAgents"));
  } else if (agents.size() <= kUnfilteredAgents) {
    for (const Agent& agent : agents)
      menu.addAction(agentItem(agent));
  } else {
    auto* search = static_cast<SearchItem*>(searchItem());
    menu.addAction(search);
    searchField_ = search->field();
    searchField_->installEventFilter(this);
    for (const Agent& agent : agents) {
      auto* item = static_cast<SwitchRowItem*>(agentItem(agent));
      menu.addAction(item);
      addFilteredRow(item, agent);
    }
    noMatch_ = actionItem(menu, L("没有匹配的启动项", "No agents match"));
    applyFilter();
  }
  // Keys typed into the open menu go to the search field, when there is one.
  menu.setFocusProxy(searchField_);
  menu.addSeparator();

  actionItem(menu, L("新建启动项…", "New Agent…"), [self = QPointer<AppDelegate>(this)] {
    if (self)
      self->showNewAgentWindow();
  });
  actionItem(menu, L("在访达中打开 LaunchAgents", "Open LaunchAgents in Finder"), [] {
    // The result of the request is not looked at.
    platform::openInDesktop(Agents::defaultDirectory(), [](Outcome) {});
  });
  menu.addSeparator();

  const std::string appPath = bundle_.path.string();
  const bool inBundle = appPath.ends_with(".app");
  QPointer<AppDelegate> self(this);
  SwitchRowItem::Content login;
  login.title = QString::fromStdString(L("登录时启动", "Launch at Login"));
  login.isOn = LoginItem::isEnabled();
  login.enabled = inBundle;
  login.onToggle = [self, appPath](bool on) {
    Outcome changed = LoginItem::setEnabled(on, appPath);
    if (!self)
      return;
    if (!changed)
      self->presentWarning(L("设置登录启动失败", "Couldn't change the login item"),
                           changed.error().text);
    self->refresh();
  };
  menu.addAction(new SwitchRowItem(std::move(login), &menu));
  menu.addAction(languageItem(settings().value().language));
  menu.addSeparator();

  menu.addAction(updateItem());
  actionItem(menu, L("退出 Morvane", "Quit Morvane"), [] { QCoreApplication::quit(); });
}

QAction* AppDelegate::agentItem(const Agent& agent) {
  const auto request = pending.find(agent.label);
  const bool frozen = request != pending.end();
  const auto failure = failures.find(agent.label);
  const FailedExit* failed = failure != failures.end() ? &failure->second : nullptr;
  QPointer<AppDelegate> self(this);
  SwitchRowItem::Content row;
  row.title = singleLine(displayName(agent.label));
  row.detail = agentDetail(agent, failed, nextRunDetail(agent));
  row.detailWarns = failed != nullptr;
  row.isOn = frozen ? request->second : agent.loaded;
  row.enabled = !frozen;
  row.onToggle = [self, agent](bool on) {
    if (self)
      self->setLoaded(agent, on);
  };
  row.toolTip = QString::fromStdString(agent.path) + scheduleToolTip(agent);
  if (agent.disabled && !agent.loaded)
    row.toolTip += QString::fromStdString(
        L("\n已被 launchctl disable 停用，拨开会先解除停用再加载",
          "\nDisabled with launchctl disable. Turning it on re-enables it first."));
  if (failed != nullptr && failed->lastErrorLine)
    row.toolTip += QLatin1Char('\n') + fittedLine(*failed->lastErrorLine, QToolTip::font(),
                                                  SwitchRow::kMaxWidth, Qt::ElideRight);
  row.toolTip = plainToolTip(row.toolTip);
  row.onActions = [self, agent](const QPoint& at, bool byKeyboard) {
    if (self)
      self->showActions(agent, at, byKeyboard);
  };
  return new SwitchRowItem(std::move(row), &menu);
}

std::optional<std::string> AppDelegate::nextRunDetail(const Agent& agent) {
  if (!agent.loaded || agent.pid)
    return std::nullopt;
  const auto schedule = schedules.find(agent.label);
  if (schedule == schedules.end() || schedule->second.calendar.empty())
    return std::nullopt;
  const std::time_t now = std::time(nullptr);
  const std::optional<std::time_t> next = nextRuns_.next(agent.label, schedule->second, now);
  if (!next)
    return std::nullopt;
  return ScheduleText::nextRunShort(*next, now);
}

QString AppDelegate::scheduleToolTip(const Agent& agent) const {
  const auto schedule = schedules.find(agent.label);
  if (schedule == schedules.end() || schedule->second.empty())
    return {};
  std::string text = "\n" + ScheduleText::summary(schedule->second);
  for (const std::string& line : ScheduleText::entryLines(schedule->second))
    text += "\n  · " + line;
  return QString::fromStdString(text);
}

QAction* AppDelegate::languageItem(const std::optional<std::string>& current) {
  auto* item =
      new QAction(QString::fromStdString(L("语言（Language）", "Language（语言）")), &menu);
  auto* submenu = new QMenu(&menu);
  QPointer<AppDelegate> self(this);
  const std::pair<std::string, std::optional<std::string>> options[] = {
      {L("跟随系统", "System Default"), std::nullopt},
      {"中文", "zh"},
      {"English", "en"},
  };
  for (const auto& [title, preference] : options) {
    actionItem(
        *submenu, title,
        [self, preference] {
          if (!self)
            return;
          self->settings().update([&](Settings& s) { s.language = preference; });
          Language::apply(preference);
          self->note.reset();
          self->updateIcon();
        },
        preference == current);
  }
  item->setMenu(submenu);
  return item;
}

}  // namespace morvane
