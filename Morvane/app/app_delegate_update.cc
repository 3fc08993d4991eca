// The in-app update flow: the automatic checks, the check and download in the background, the
// menu's update item and the hand-off to the installer.

#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <filesystem>

#include "action_item.h"
#include "app_delegate.h"
#include "display_text.h"
#include "language.h"
#include "switch_row.h"

namespace morvane {
namespace {

constexpr int kFirstCheckDelayMs = 30 * 1000;
constexpr int kCheckIntervalMs = 6 * 60 * 60 * 1000;

/// How a check in the background ends: the state to take, the note to show (none keeps the
/// current one) and the failure to report.
struct CheckEnd {
  UpdateState state;
  std::optional<std::string> note;
  std::optional<std::string> error;
};

/// Checks for a newer release and downloads it into the bundle at `app`'s staging directory;
/// `downloading` hears of the release first. Blocks for as long as the network and the
/// verification take.
CheckEnd checkAndDownload(const std::string& current, const std::filesystem::path& app,
                          const Paths& paths, bool manual,
                          const std::function<void(const std::string&)>& downloading) {
  Result<std::optional<Updater::Release>> checked = Updater::check(current);
  if (!checked)
    return {UpdateStates::Idle{}, std::nullopt, checked.error().text};
  if (!*checked) {
    std::optional<std::string> upToDate;
    if (manual)
      upToDate = L([&] { return "已是最新版本（" + current + "）"; },
                   [&] { return "You're up to date (" + current + ")"; });
    return {UpdateStates::Idle{}, std::move(upToDate), std::nullopt};
  }
  const Updater::Release release = **checked;
  // Nothing is downloaded for a location that cannot be replaced, nor while another update
  // holds the staging directory; the lock is let go once the bundle is staged.
  if (Outcome replaceable = Updater::checkReplaceable(app); !replaceable)
    return {UpdateStates::Idle{}, std::nullopt, replaceable.error().text};
  Result<Updater::UpdateLock> lock = Updater::UpdateLock::acquire(paths, app);
  if (!lock)
    return {UpdateStates::Idle{}, std::nullopt, lock.error().text};
  downloading(release.version);
  Result<Staged> staged = Updater::download(release, paths);
  if (!staged)
    return {UpdateStates::Idle{}, std::nullopt, staged.error().text};
  std::string ready =
      L([&] { return "新版本 " + staged->version + " 已下载，可以安装"; },
        [&] { return "Version " + staged->version + " is downloaded and ready to install"; });
  return {UpdateStates::Ready{*staged}, std::move(ready), std::nullopt};
}

/// Runs `step` on the main thread with the delegate, unless the delegate is gone by then.
/// Steps posted from one thread run in the order posted. They go through the application
/// object rather than the delegate: the application outlives every task of the global pool
/// (it waits for them as it goes), while the delegate may go at any time.
void post(const QPointer<AppDelegate>& delegate, std::function<void(AppDelegate&)> step) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [delegate, step = std::move(step)] {
        if (delegate)
          step(*delegate);
      },
      Qt::QueuedConnection);
}

}  // namespace

void AppDelegate::scheduleUpdateChecks() {
  QPointer<AppDelegate> self(this);
  auto* first = new QTimer(this);
  first->setObjectName(QStringLiteral("firstUpdateCheck"));
  first->setSingleShot(true);
  first->setInterval(kFirstCheckDelayMs);
  connect(first, &QTimer::timeout, this, [self] {
    if (self)
      self->checkForUpdate(false);
  });
  first->start();

  // Fires while the menu is open too: Qt timers keep running during a popup's event loop.
  auto* periodic = new QTimer(this);
  periodic->setObjectName(QStringLiteral("periodicUpdateCheck"));
  periodic->setTimerType(Qt::VeryCoarseTimer);
  periodic->setInterval(kCheckIntervalMs);
  connect(periodic, &QTimer::timeout, this, [self] {
    if (self)
      self->checkForUpdate(false);
  });
  periodic->start();
}

void AppDelegate::checkForUpdate(bool manual) {
  if (!std::holds_alternative<UpdateStates::Idle>(updateState))
    return;  // a check or download is under way, or an update is staged
  if (!manual && !settings().value().autoUpdate)
    return;
  updateState = UpdateStates::Checking{};
  showChanges();

  // One task on the shared pool, not on `work`: a download may take minutes, and agent
  // operations must not wait for it. The task touches none of the delegate's fields.
  QPointer<AppDelegate> self(this);
  QThreadPool::globalInstance()->start(
      [self, manual, current = currentVersion, bundle = bundle_.path, paths = paths] {
        CheckEnd end =
            checkAndDownload(current, bundle, paths, manual, [&](const std::string& version) {
              post(self, [version](AppDelegate& app) {
                app.updateState = UpdateStates::Downloading{version};
                app.showChanges();
              });
            });
        post(self, [end = std::move(end), manual](AppDelegate& app) mutable {
          app.finishUpdateCheck(std::move(end.state), std::move(end.note), std::move(end.error),
                                manual);
        });
      });
}

void AppDelegate::finishUpdateCheck(UpdateState state, std::optional<std::string> newNote,
                                    std::optional<std::string> error, bool manual) {
  if (newNote)
    note = std::move(newNote);
  updateState = std::move(state);
  showChanges();
  // Automatic checks fail silently; the next one tries again.
  if (error && manual)
    presentWarning(L("检查更新失败", "Update check failed"), *error);
}

QAction* AppDelegate::updateItem() {
  auto [title, handler] = updateChoice();
  return new ActionItem(menuTitle(title, menu.font(), SwitchRow::kMaxWidth), std::move(handler),
                        false, &menu);
}

std::pair<std::string, ActionItem::Handler> AppDelegate::updateChoice() {
  QPointer<AppDelegate> self(this);
  std::string title;
  ActionItem::Handler handler;
  if (std::holds_alternative<UpdateStates::Idle>(updateState)) {
    title = L([&] { return "检查更新（当前 " + currentVersion + "）"; },
              [&] { return "Check for Updates (current " + currentVersion + ")"; });
    handler = [self] {
      if (self)
        self->checkForUpdate(true);
    };
  } else if (std::holds_alternative<UpdateStates::Checking>(updateState)) {
    title = L("正在检查更新…", "Checking for updates…");
  } else if (auto* downloading = std::get_if<UpdateStates::Downloading>(&updateState)) {
    title = L([&] { return "正在下载 " + downloading->version + "…"; },
              [&] { return "Downloading " + downloading->version + "…"; });
  } else if (auto* ready = std::get_if<UpdateStates::Ready>(&updateState)) {
    const Staged staged = ready->staged;
    title = L([&] { return "安装更新 " + staged.version + " 并重启"; },
              [&] { return "Install Update " + staged.version + " and Restart"; });
    handler = [self, staged] {
      if (self)
        self->installUpdate(staged);
    };
  }
  return {std::move(title), std::move(handler)};
}

void AppDelegate::installUpdate(const Staged& staged) {
  // A location that cannot be replaced has no folder to keep the bundle's lock in either.
  Outcome replaceable = Updater::checkReplaceable(bundle_.path);
  Result<Updater::UpdateLock> lock = replaceable ? Updater::UpdateLock::acquire(paths, bundle_.path)
                                                 : std::unexpected(replaceable.error());
  Outcome started =
      lock ? Updater::launchInstaller(staged, bundle_.path, ::getpid(), paths, std::move(*lock))
           : Outcome(std::unexpected(lock.error()));
  if (started) {
    // The installer waits for this process to end before it swaps the bundles.
    QCoreApplication::quit();
    return;
  }
  // Without its staged bundle the update cannot be installed any more; the menu offers a
  // new check instead, as the failure's text asks.
  std::error_code error;
  if (!std::filesystem::exists(staged.app, error))
    updateState = UpdateStates::Idle{};
  presentWarning(L("安装更新失败", "Update install failed"), started.error().text);
}

}  // namespace morvane
