#include "desktop_notices.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace morvane {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

}  // namespace

DesktopNotices::DesktopNotices(std::function<bool(const QString&, const QString&)> fallback,
                               QDBusConnection bus, QObject* parent)
    : QObject(parent), fallback_(std::move(fallback)), bus_(std::move(bus)) {
  if (!bus_.isConnected())
    return;
  bus_.connect(kService, kPath, kInterface, "ActionInvoked", this,
               SLOT(actionInvoked(uint, QString)));
  bus_.connect(kService, kPath, kInterface, "NotificationClosed", this,
               SLOT(notificationClosed(uint, uint)));
}

void DesktopNotices::show(Notice notice) {
  if (!bus_.isConnected()) {
    fallback_(notice.summary, notice.body);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QStringList actions;
  if (notice.action)
    actions << kActionKey << notice.actionTitle;
  // The body may be read as markup by the service: the log's line is shown as written.
  call << QStringLiteral("Morvane") << uint(0) << QString() << notice.summary
       << notice.body.toHtmlEscaped() << actions << QVariantMap{} << int(-1);
  auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  QPointer<DesktopNotices> self(this);
  connect(pending, &QDBusPendingCallWatcher::finished, this,
          [self, notice = std::move(notice)](QDBusPendingCallWatcher* done) {
            done->deleteLater();
            if (!self)
              return;
            QDBusPendingReply<uint> reply = *done;
            if (reply.isError()) {
              self->fallback_(notice.summary, notice.body);
              return;
            }
            if (notice.action)
              self->actions_[reply.value()] = notice.action;
          });
}

void DesktopNotices::actionInvoked(uint id, const QString& key) {
  const auto found = actions_.find(id);
  if (found == actions_.end() || key != kActionKey)
    return;
  const std::function<void()> action = found->second;
  actions_.erase(found);
  // Done with: the notice goes, where the service would keep it on show.
  QDBusMessage close =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, "CloseNotification");
  close << id;
  bus_.asyncCall(close);
  action();
}

void DesktopNotices::notificationClosed(uint id, uint) {
  actions_.erase(id);
}

}  // namespace morvane
