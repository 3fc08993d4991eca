// The actions on one agent, opened from its row with a right click or from the keyboard: its
// log, its property list in the file manager and in the text editor, its schedule, its label on
// the clipboard; below them, for a loaded agent, its last runs.

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <chrono>

#include "action_item.h"
#include "app_delegate.h"
#include "job_description.h"
#include "language.h"
#include "menu_placement.h"
#include "run_text.h"

namespace morvane {

platform::DesktopDone AppDelegate::warnOnFailure(std::string title) {
  QPointer<AppDelegate> self(this);
  return [self, title = std::move(title)](Outcome outcome) {
    if (outcome)
      return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, title, text = outcome.error().text] {
          if (self)
            self->presentWarning(title, text);
        },
        Qt::QueuedConnection);
  };
}

QMenu* AppDelegate::actionsMenu(const Agent& agent) {
  if (actions_)
    actions_->deleteLater();
  actions_ = new QMenu(&menu);
  actions_->installEventFilter(this);
  QPointer<AppDelegate> self(this);
  // Each action closes the menu, as choosing any item does, then does its work.
  auto action = [&](const std::string& title, std::function<void(AppDelegate&)> act) {
    ActionItem::Handler handler;
    if (act)
      handler = [self, act] {
        if (!self)
          return;
        self->menu.hide();
        act(*self);
      };
    actions_->addAction(
        new ActionItem(QString::fromStdString(title), std::move(handler), false, actions_));
  };

  Result<JobDescription> job = readJobDescription(agent.path);
  const std::optional<std::filesystem::path> log = job ? newestLog(*job) : std::nullopt;
  const std::filesystem::path plist = agent.path;
  action(L("显示日志", "Show Log"), log ? [log = *log](AppDelegate& app) {
    platform::openInDesktop(log, app.warnOnFailure(L("无法显示日志", "Couldn't show the log")));
  } : std::function<void(AppDelegate&)>());
  action(L("在文件夹中显示", "Reveal in Folder"), [plist](AppDelegate& app) {
    platform::revealInFileManager(
        plist, app.warnOnFailure(L("无法在文件夹中显示", "Couldn't reveal the file")));
  });
  action(L("编辑", "Edit"), [plist](AppDelegate& app) {
    platform::editInTextEditor(
        plist, app.warnOnFailure(L("无法打开文件进行编辑", "Couldn't open the file for editing")));
  });
  action(L("计划…", "Schedule…"), [agent](AppDelegate& app) { app.showScheduleWindow(agent); });
  action(L("拷贝标签", "Copy Label"), [label = agent.label](AppDelegate&) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(label));
  });
  if (agent.loaded)
    addRecentRuns(*actions_, agent.label);
  return actions_;
}

void AppDelegate::addRecentRuns(QMenu& actions, const std::string& label) {
  // The limit only keeps a hung launchctl from holding the queue long.
  constexpr double kRunsTimeout = 2;
  actions.addSeparator();
  actions.addAction(
      new ActionItem(QString::fromStdString(RunText::heading()), {}, false, &actions));
  // launchctl answers on `work`, as the scans do; the open menu shows the runs once it has.
  QPointer<QAction> loading =
      new ActionItem(QString::fromStdString(RunText::loading()), {}, false, &actions);
  actions.addAction(loading);
  work.submit([this, label, loading] {
    Result<Runs> runs = Agents::recentRuns(label, kRunsTimeout);
    QMetaObject::invokeMethod(
        this, [loading, runs = std::move(runs)] { showRecentRuns(loading, runs); },
        Qt::QueuedConnection);
  });
}

void AppDelegate::showRecentRuns(QAction* placeholder, const Result<Runs>& runs) {
  // A menu closed or made again meanwhile has no use for them.
  if (placeholder == nullptr)
    return;
  auto* actions = qobject_cast<QMenu*>(placeholder->parent());
  if (actions == nullptr)
    return;
  constexpr size_t kShownRuns = 5;
  std::vector<std::string> lines;
  if (!runs) {
    lines.push_back(runs.error().text);
  } else {
    if (runs->empty())
      lines.push_back(RunText::none());
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    for (auto run = runs->rbegin(); run != runs->rend() && lines.size() < kShownRuns; ++run)
      lines.push_back(RunText::line(*run, now));
  }
  for (const std::string& text : lines)
    actions->insertAction(placeholder,
                          new ActionItem(QString::fromStdString(text), {}, false, actions));
  actions->removeAction(placeholder);
  placeholder->deleteLater();
  // Grown where it stands, the open menu may now reach past the screen's edge.
  if (actions->isVisible() && actions->screen() != nullptr) {
    actions->adjustSize();
    actions->move(
        MenuPlacement::keepWithin(actions->geometry(), actions->screen()->availableGeometry())
            .topLeft());
  }
}

void AppDelegate::showActions(const Agent& agent, const QPoint& at, bool byKeyboard) {
  QMenu* shown = actionsMenu(agent);
  shown->popup(at);
  if (!byKeyboard)
    return;
  for (QAction* item : shown->actions()) {
    if (item->isEnabled()) {
      shown->setActiveAction(item);
      break;
    }
  }
}

}  // namespace morvane
