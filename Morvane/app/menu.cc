// The status menu, built from scratch from the controller's state each time it is shown or
// that state changes while it is open.

#include <QApplication>
#include <QPointer>
#include <QToolTip>

#include "action_item.h"
#include "agents.h"
#include "app_delegate.h"
#include "display_text.h"
#include "language.h"
#include "login_item.h"
#include "menu_texts.h"
#include "schedule_text.h"
#include "search_item.h"
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

  actionItem(menu, MenuTexts::header(agents, !agentsUnknown));
  if (busy)
    actionItem(menu, MenuTexts::busyLine(*busy));
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
    actionItem(menu, MenuTexts::noAgents());
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

  actionItem(menu, MenuTexts::newAgent(), [self = QPointer<AppDelegate>(this)] {
    if (self)
      self->showNewAgentWindow();
  });
  actionItem(menu, MenuTexts::openFolder(), [] { openAgentsFolder(); });
  menu.addSeparator();

  const std::string appPath = bundle_.path.string();
  const bool inBundle = appPath.ends_with(".app");
  QPointer<AppDelegate> self(this);
  SwitchRowItem::Content login;
  login.title = QString::fromStdString(MenuTexts::launchAtLogin());
  login.isOn = LoginItem::isEnabled();
  login.enabled = inBundle;
  login.onToggle = [self, appPath](bool on) {
    if (self)
      self->setLaunchAtLogin(on, appPath);
  };
  menu.addAction(new SwitchRowItem(std::move(login), &menu));
  menu.addAction(languageItem(settings().value().language));
  menu.addSeparator();

  menu.addAction(updateItem());
  actionItem(menu, MenuTexts::quit(), [] { QCoreApplication::quit(); });
}

QAction* AppDelegate::agentItem(const Agent& agent) {
  const auto request = pending.find(agent.label);
  const bool frozen = request != pending.end();
  const auto failure = failures.find(agent.label);
  const FailedExit* failed = failure != failures.end() ? &failure->second : nullptr;
  QPointer<AppDelegate> self(this);
  SwitchRowItem::Content row;
  row.title = singleLine(displayName(agent.label));
  const auto diagnosis = invalidAgents.find(agent.path);
  const bool invalid = diagnosis != invalidAgents.end();
  row.detail = MenuTexts::agentDetail(agent, failed, invalid);
  row.detailWarns = failed != nullptr || invalid;
  if (std::optional<std::string> next = nextRunDetail(agent))
    row.detail = row.detail ? *row.detail + QStringLiteral(" · ") + QString::fromStdString(*next)
                            : QString::fromStdString(*next);
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
  if (invalid)
    for (const AgentProblem& problem : diagnosis->second)
      row.toolTip += QLatin1Char('\n') + QString::fromStdString(sentence(problem));
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
  auto* item = new QAction(QString::fromStdString(MenuTexts::language()), &menu);
  auto* submenu = new QMenu(&menu);
  QPointer<AppDelegate> self(this);
  for (const auto& [title, preference] : MenuTexts::languageOptions()) {
    actionItem(
        *submenu, title,
        [self, preference] {
          if (self)
            self->chooseLanguage(preference);
        },
        preference == current);
  }
  item->setMenu(submenu);
  return item;
}

void AppDelegate::chooseLanguage(const std::optional<std::string>& preference) {
  settings().update([&](Settings& s) { s.language = preference; });
  Language::apply(preference);
  note.reset();
  updateIcon();
  nativeMenuChanged();
}

void AppDelegate::setLaunchAtLogin(bool on, const std::string& appPath) {
  Outcome changed = LoginItem::setEnabled(on, appPath);
  if (!changed)
    presentWarning(L("设置登录启动失败", "Couldn't change the login item"), changed.error().text);
  nativeMenuChanged();
  refresh();
}

void AppDelegate::openAgentsFolder() {
  // The result of the request is not looked at.
  platform::openInDesktop(Agents::defaultDirectory(), [](Outcome) {});
}

}  // namespace morvane
