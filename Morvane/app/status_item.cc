#include "status_item.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QTimer>
#include <iostream>

#include "app_identifier.h"
#include "dbus_menu.h"
#include "language.h"
#include "status_notifier_item.h"

namespace morvane {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

/// A watcher that goes may be one that starts again (a panel restarting): the embedding tray
/// waits this long before it takes the icon, so that Qt's tray, which looks for a watcher when
/// it is first used, finds none.
constexpr int kEmbeddingDelayMs = 2000;

bool onX11() {
  return QGuiApplication::platformName() == QLatin1String("xcb");
}

}  // namespace

bool StatusItem::clickShowsExportedMenu() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

StatusItem::StatusItem(Handlers handlers, QDBusConnection bus, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)), bus_(std::move(bus)) {
  if (!bus_.isConnected())
    return;
  // The name Qt's own tray icon would take first: held here, it can never put up a second
  // icon beside this one.
  service_ =
      QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
  auto point = [](const std::function<void(const QPoint&)>& handler) {
    return [handler](int x, int y) {
      if (handler)
        handler(QPoint(x, y));
    };
  };
  StatusNotifierItem::Handlers clicks{point(handlers_.activate), point(handlers_.contextMenu),
                                      [this](int, int) {
                                        if (handlers_.secondaryActivate)
                                          handlers_.secondaryActivate();
                                      }};
  item_ = new StatusNotifierItem(QString::fromUtf8(kAppIdentifier.data(), kAppIdentifier.size()),
                                 QString::fromLatin1(kMenuPath), clickShowsExportedMenu(),
                                 std::move(clicks), this);
  menu_ = new DBusMenu(handlers_.menu, handlers_.menuOpening, this);
  const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                        QDBusConnection::ExportAllProperties;
  if (!bus_.registerObject(QString::fromLatin1(kItemPath), item_, exported) ||
      !bus_.registerObject(QString::fromLatin1(kMenuPath), menu_, exported) ||
      !bus_.registerService(service_)) {
    std::cerr << L("Morvane：无法在会话总线上提供状态栏图标：",
                   "Morvane: cannot offer the status icon on the session bus: ")
              << bus_.lastError().message().toStdString() << std::endl;
    bus_.unregisterObject(QString::fromLatin1(kItemPath));
    bus_.unregisterObject(QString::fromLatin1(kMenuPath));
    delete item_;
    delete menu_;
    return;
  }
  watcher_ =
      new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString&, const QString&, const QString& owner) {
            if (owner.isEmpty())
              watcherGone();
            else if (showing_)
              registerWithWatcher();
          });
}

StatusItem::~StatusItem() {
  if (item_) {
    bus_.unregisterService(service_);
    bus_.unregisterObject(QString::fromLatin1(kItemPath));
    bus_.unregisterObject(QString::fromLatin1(kMenuPath));
  }
}

bool StatusItem::show() {
  showing_ = true;
  if (item_ && bus_.interface() != nullptr && bus_.interface()->isServiceRegistered(kWatcher)) {
    registerWithWatcher();
    return true;
  }
  if (!onX11())
    return false;
  showEmbedded();
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusItem::registerWithWatcher() {
  QDBusMessage call =
      QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                     QStringLiteral("RegisterStatusNotifierItem"));
  call << service_;
  auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    if (done->isError()) {
      std::cerr << L("Morvane：面板没有接受状态栏图标：",
                     "Morvane: the panel did not take the status icon: ")
                << done->error().message().toStdString() << std::endl;
      return;
    }
    registered_ = true;
    dropEmbedded();
  });
}

void StatusItem::watcherGone() {
  registered_ = false;
  if (!showing_ || !onX11())
    return;
  QTimer::singleShot(kEmbeddingDelayMs, this, [this] {
    if (!registered_ &&
        !(bus_.interface() != nullptr && bus_.interface()->isServiceRegistered(kWatcher)))
      showEmbedded();
  });
}

void StatusItem::showEmbedded() {
  if (!embedded_) {
    embedded_ = std::make_unique<QSystemTrayIcon>();
    connect(embedded_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              if (reason == QSystemTrayIcon::Trigger && handlers_.activate)
                handlers_.activate(QPoint());
              else if (reason == QSystemTrayIcon::Context && handlers_.contextMenu)
                handlers_.contextMenu(QPoint());
              else if (reason == QSystemTrayIcon::MiddleClick && handlers_.secondaryActivate)
                handlers_.secondaryActivate();
            });
  }
  embedded_->setIcon(icon_);
  embedded_->setToolTip(toolTip_);
  embedded_->show();
}

void StatusItem::dropEmbedded() {
  if (embedded_)
    embedded_->hide();
}

void StatusItem::setIcon(const QIcon& icon) {
  icon_ = icon;
  if (item_)
    item_->setIcon(icon);
  if (embedded_)
    embedded_->setIcon(icon);
}

void StatusItem::setToolTip(const QString& text) {
  toolTip_ = text;
  if (item_)
    item_->setToolTip(text);
  if (embedded_)
    embedded_->setToolTip(text);
}

void StatusItem::menuChanged() {
  if (menu_)
    menu_->changed();
}

QRect StatusItem::geometry() const {
  return embedded_ && embedded_->isVisible() ? embedded_->geometry() : QRect();
}

StatusItem::Shown StatusItem::shown() const {
  if (registered_)
    return Shown::notifierItem;
  if (embedded_ && embedded_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
    return Shown::embedded;
  return Shown::nowhere;
}

bool StatusItem::showMessage(const QString& title, const QString& body) {
  if (!embedded_ || !QSystemTrayIcon::supportsMessages())
    return false;
  embedded_->showMessage(title, body, QSystemTrayIcon::Warning);
  return true;
}

}  // namespace morvane
