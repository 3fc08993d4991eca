#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <map>

namespace morvane {

/// Desktop notifications through the freedesktop notification service
/// (org.freedesktop.Notifications on the session bus), with one action each.
class DesktopNotices : public QObject {
  Q_OBJECT

 public:
  /// One notice: its summary, its body (plain text), and optionally an action's title and what
  /// choosing it does.
  struct Notice {
    QString summary;
    QString body;
    QString actionTitle;
    std::function<void()> action;
  };

  /// `fallback` shows a notice's summary and body some other way where no notification service
  /// answers; it returns whether it could.
  explicit DesktopNotices(std::function<bool(const QString&, const QString&)> fallback,
                          QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject* parent = nullptr);

  /// Shows `notice` without waiting for the service; when the service does not answer, the
  /// fallback shows it.
  void show(Notice notice);

  /// The name of the notice's one action on the bus.
  static constexpr const char* kActionKey = "default-action";

 private slots:
  void actionInvoked(uint id, const QString& key);
  void notificationClosed(uint id, uint reason);

 private:
  std::function<bool(const QString&, const QString&)> fallback_;
  QDBusConnection bus_;
  /// The actions of the notices on show, by the service's id.
  std::map<uint, std::function<void()>> actions_;
};

}  // namespace morvane
