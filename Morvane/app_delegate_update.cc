// The in-app update flow: the automatic checks, the menu's update item and the hand-off to the
// installer. Checking, downloading and installing come with the updater; until then a check
// passes its guards and stops there.

#include <QPointer>
#include <QTimer>

#include "action_item.h"
#include "app_delegate.h"
#include "display_text.h"
#include "language.h"
#include "switch_row.h"

namespace morvane {
namespace {

constexpr int kFirstCheckDelayMs = 30 * 1000;
constexpr int kCheckIntervalMs = 6 * 60 * 60 * 1000;

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
}

QAction* AppDelegate::updateItem() {
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
  return new ActionItem(menuTitle(title, menu.font(), SwitchRow::kMaxWidth), std::move(handler),
                        false, &menu);
}

void AppDelegate::installUpdate(const Staged&) {
  presentWarning(L("安装更新失败", "Update install failed"),
                 L("这个版本还不能安装更新。", "This version cannot install updates yet."));
}

}  // namespace morvane
