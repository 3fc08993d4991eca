// The status menu, built from scratch from the controller's state each time it is shown or
// that state changes while it is open. Its agent rows are one scrolling list, as high as the
// space the rest of the menu leaves on the screen.

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
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
#include "work_area.h"

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
  // Measured once it is visible again: the menu shows its new items as it measures them.
  if (shown)
    menu.setAttribute(Qt::WA_WState_Visible, true);
  fitAgentRows();
  if (shown) {
    placeMenu();
    // Placed again at the same size, the menu gets no paint of its own: its painted texts (the
    // header, the status line) would keep their old words until it is next opened.
    menu.update();
  }
  // The search field takes the keyboard; a menu about to open gives it focus once shown.
  if (searchField_)
    searchField_->setFocus(Qt::PopupFocusReason);
}

void AppDelegate::buildMenuItems() {
  // An open menu keeps its place in the rows, and the row chosen, across a rebuild.
  std::optional<std::string> topLabel;
  std::optional<std::string> chosenLabel;
  // (The list is visible only in an open menu, also while the menu is changed.)
  if (AgentList* old = agentList(); old != nullptr && old->isVisible() && !old->shown().empty()) {
    if (old->shown()[old->top()] < filterRows_.size())
      topLabel = filterRows_[old->shown()[old->top()]].label;
    if (old->chosen() && old->shown()[*old->chosen()] < filterRows_.size())
      chosenLabel = filterRows_[old->shown()[*old->chosen()]].label;
  }
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
  agentRows_ = nullptr;
  if (agentsUnknown) {
    // One line instead of rows that would all show "off": what is loaded is not known.
    actionItem(menu, *agentsUnknown);
  } else if (agents.empty()) {
    actionItem(menu, MenuTexts::noAgents());
  } else {
    if (agents.size() > kUnfilteredAgents) {
      auto* search = static_cast<SearchItem*>(searchItem());
      menu.addAction(search);
      searchField_ = search->field();
      searchField_->installEventFilter(this);
    }
    for (const Agent& agent : agents)
      addFilteredRow(agent);
    if (searchField_) {
      noMatch_ = actionItem(menu, L("没有匹配的启动项", "No agents match"));
      noMatch_->setVisible(false);
    }
  }
  // Keys typed into the open menu go to the search field, when there is one.
  menu.setFocusProxy(searchField_);
  QAction* afterRows = menu.addSeparator();

  actionItem(menu, MenuTexts::newAgent(), [self = QPointer<AppDelegate>(this)] {
    if (self)
      self->showNewAgentWindow();
  });
  actionItem(menu, MenuTexts::openFolder(), [this] { openAgentsFolder(); });
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
  SwitchRowItem::Content notify;
  notify.title = QString::fromStdString(MenuTexts::notifyOnFailure());
  notify.isOn = settings().value().notifyOnFailure;
  notify.enabled = true;
  notify.onToggle = [self](bool on) {
    if (self)
      self->setNotifyOnFailure(on);
  };
  menu.addAction(new SwitchRowItem(std::move(notify), &menu));
  menu.addAction(languageItem(settings().value().language));
  menu.addSeparator();

  menu.addAction(updateItem());
  actionItem(menu, MenuTexts::quit(), [] { QCoreApplication::quit(); });

  if (filterRows_.empty())
    return;
  // As high as they were until the menu is measured again.
  agentRows_ = agentListItem(agentRowsLimit_);
  menu.insertAction(noMatch_ ? noMatch_.data() : afterRows, agentRows_);
  applyFilter();
  AgentList* list = agentList();
  auto position = [&](const std::optional<std::string>& label) -> std::optional<size_t> {
    if (!label || list == nullptr)
      return std::nullopt;
    for (size_t at = 0; at < list->shown().size(); ++at)
      if (filterRows_[list->shown()[at]].label == *label)
        return at;
    return std::nullopt;
  };
  if (const std::optional<size_t> top = position(topLabel))
    list->scrollTo(*top);
  if (const std::optional<size_t> chosen = position(chosenLabel))
    list->choose(chosen);
}

void AppDelegate::fitAgentRows() {
  AgentList* list = agentList();
  if (list == nullptr)
    return;
  QRect area = workArea_;
  if (!area.isValid()) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
      return;
    area = WorkArea::of(*screen);
  }
  // The rows get the height the rest of the menu leaves.
  const int rest =
      menu.sizeHint().height() - (agentRows_->isVisible() ? list->sizeHint().height() : 0);
  agentRowsLimit_ = std::max(AgentList::kRowHeight, area.height() - rest);
  list->setHeightLimit(agentRowsLimit_);
  agentRows_->heightChanged();
}

AgentList* AppDelegate::agentList() const {
  return agentRows_ ? agentRows_->list() : nullptr;
}

const Agent* AppDelegate::listedAgent(size_t index) const {
  if (index >= filterRows_.size())
    return nullptr;
  const std::string& label = filterRows_[index].label;
  if (index < agents.size() && agents[index].label == label)
    return &agents[index];
  const auto found = std::find_if(agents.begin(), agents.end(),
                                  [&](const Agent& agent) { return agent.label == label; });
  return found != agents.end() ? &*found : nullptr;
}

AgentListItem* AppDelegate::agentListItem(int heightLimit) {
  QPointer<AppDelegate> self(this);
  AgentList::Handlers handlers;
  // Made as each row is shown: a menu of thousands of agents shows a few dozen.
  handlers.content = [self](size_t index) {
    if (!self || index >= self->filterRows_.size())
      return AgentList::Row();
    if (const Agent* agent = self->listedAgent(index))
      return self->agentRow(*agent);
    // Gone since the menu was made, until the menu is made again.
    AgentList::Row gone;
    gone.title = singleLine(self->displayName(self->filterRows_[index].label));
    gone.enabled = false;
    return gone;
  };
  handlers.toggle = [self](size_t index, bool on) {
    if (!self)
      return;
    if (const Agent* agent = self->listedAgent(index))
      self->setLoaded(Agent(*agent), on);
  };
  handlers.actions = [self](size_t index, const QPoint& at, bool byKeyboard) {
    if (!self)
      return;
    if (const Agent* agent = self->listedAgent(index))
      self->showActions(Agent(*agent), at, byKeyboard);
  };
  handlers.toolTip = [self](size_t index) {
    const Agent* agent = self ? self->listedAgent(index) : nullptr;
    return agent != nullptr ? self->agentToolTip(*agent) : QString();
  };
  return new AgentListItem(filterRows_.size(), std::move(handlers), heightLimit, &menu);
}

AgentList::Row AppDelegate::agentRow(const Agent& agent) {
  const auto request = pending.find(agent.label);
  const bool frozen = request != pending.end();
  const auto failure = failures.find(agent.label);
  const FailedExit* failed = failure != failures.end() ? &failure->second : nullptr;
  AgentList::Row row;
  row.title = singleLine(displayName(agent.label));
  const auto diagnosis = invalidAgents.find(agent.path);
  const bool invalid = diagnosis != invalidAgents.end();
  row.detail = MenuTexts::agentDetail(agent, failed, invalid);
  row.detailWarns = failed != nullptr || invalid;
  if (const std::string* next = nextRunDetail(agent))
    row.detail = row.detail ? *row.detail + QStringLiteral(" · ") + QString::fromStdString(*next)
                            : QString::fromStdString(*next);
  row.isOn = frozen ? request->second : agent.loaded;
  row.enabled = !frozen;
  return row;
}

QString AppDelegate::agentToolTip(const Agent& agent) {
  const auto failure = failures.find(agent.label);
  const FailedExit* failed = failure != failures.end() ? &failure->second : nullptr;
  QString toolTip = QString::fromStdString(agent.path) + scheduleToolTip(agent);
  if (agent.disabled && !agent.loaded)
    toolTip += QString::fromStdString(
        L("\n已被 launchctl disable 停用，拨开会先解除停用再加载",
          "\nDisabled with launchctl disable. Turning it on re-enables it first."));
  if (failed != nullptr && failed->lastErrorLine)
    toolTip += QLatin1Char('\n') + fittedLine(*failed->lastErrorLine, QToolTip::font(),
                                              SwitchRow::kMaxWidth, Qt::ElideRight);
  if (const auto diagnosis = invalidAgents.find(agent.path); diagnosis != invalidAgents.end())
    for (const AgentProblem& problem : diagnosis->second)
      toolTip += QLatin1Char('\n') + QString::fromStdString(sentence(problem));
  return plainToolTip(toolTip);
}

const std::string* AppDelegate::nextRunDetail(const Agent& agent) {
  if (!agent.loaded || agent.pid)
    return nullptr;
  const auto schedule = schedules.find(agent.label);
  if (schedule == schedules.end() || schedule->second.calendar.empty())
    return nullptr;
  return nextRuns_.shortText(agent.label, schedule->second, std::time(nullptr));
}

QString AppDelegate::scheduleToolTip(const Agent& agent) {
  const auto schedule = schedules.find(agent.label);
  if (schedule == schedules.end() || schedule->second.empty())
    return {};
  const Language::Value language = Language::current();
  // Labels gone from the folder are forgotten now and then.
  if (scheduleLines_.size() > 2 * schedules.size() + 64)
    scheduleLines_.clear();
  ScheduleLines& lines = scheduleLines_[agent.label];
  if (lines.text.isEmpty() || lines.language != language || lines.schedule != schedule->second) {
    std::string text = "\n" + ScheduleText::summary(schedule->second);
    for (const std::string& line : ScheduleText::entryLines(schedule->second))
      text += "\n  · " + line;
    lines = {schedule->second, language, QString::fromStdString(text)};
  }
  return lines.text;
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
  platform::openInDesktop(
      Agents::defaultDirectory(),
      warnOnFailure(L("无法打开 LaunchAgents 文件夹", "Couldn't open the LaunchAgents folder")));
}

}  // namespace morvane
