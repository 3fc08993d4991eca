#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "dbus_menu.h"
#include "native_menu.h"
#include "status_notifier_item.h"

class QDBusServiceWatcher;

namespace morvane {

/// The application's icon in the desktop's panel, on whichever kind of tray the desktop has.
///
/// Where a panel hosts status items over D-Bus (the org.kde.StatusNotifierWatcher name has an
/// owner: KDE, GNOME's AppIndicator extension, Xfce, and every Wayland desktop), the icon is a
/// StatusNotifierItem of Morvane's own, with its menu exported beside it. The item registers
/// whenever a watcher appears, also one started after Morvane or started again, since Qt's own
/// tray icon decides once per process. On X11 without a watcher, the icon sits in the old
/// embedding tray (XEmbed, through QSystemTrayIcon) until a watcher appears.
class StatusItem : public QObject {
 public:
  /// What the icon's clicks ask for.
  struct Handlers {
    /// A click on the icon: where on the screen, when the tray says.
    std::function<void(const QPoint&)> activate;
    /// A click asking for the menu, from a panel that does not draw menus itself.
    std::function<void(const QPoint&)> contextMenu;
    /// A middle click.
    std::function<void()> secondaryActivate;
    /// The menu a panel draws itself, from the controller's state.
    std::function<NativeMenuItem()> menu;
    /// A panel is about to show that menu.
    std::function<void()> menuOpening;
  };

  explicit StatusItem(Handlers handlers, QDBusConnection bus = QDBusConnection::sessionBus(),
                      QObject* parent = nullptr);
  ~StatusItem() override;

  /// Puts the icon in the panel; false when no tray shows it for now (it shows once one
  /// appears).
  bool show();

  void setIcon(const QIcon& icon);
  QIcon icon() const { return icon_; }
  void setToolTip(const QString& text);
  QString toolTip() const { return toolTip_; }

  /// Shows a message beside the icon, where the tray can (the embedding tray); false where not.
  bool showMessage(const QString& title, const QString& body);

  /// The state behind the exported menu changed.
  void menuChanged();

  /// Where the icon is on the screen, when the tray tells (only the embedding tray does).
  QRect geometry() const;

  /// Which tray shows the icon now.
  enum class Shown { nowhere, notifierItem, embedded };
  Shown shown() const;

  /// Whether panels are asked to show the exported menu on a click: on Wayland, where only the
  /// panel can place a menu beside the icon.
  static bool clickShowsExportedMenu();

  /// The exported menu; null without a session bus.
  DBusMenu* exportedMenu() const { return menu_; }

  /// Where the item and its menu are on the bus.
  static constexpr const char* kItemPath = "/StatusNotifierItem";
  static constexpr const char* kMenuPath = "/MenuBar";

 private:
  void registerWithWatcher();
  void watcherGone();
  void showEmbedded();
  void dropEmbedded();

  Handlers handlers_;
  QDBusConnection bus_;
  QString service_;
  QIcon icon_;
  QString toolTip_;
  bool showing_ = false;
  bool registered_ = false;
  QPointer<StatusNotifierItem> item_;
  QPointer<DBusMenu> menu_;
  QPointer<QDBusServiceWatcher> watcher_;
  std::unique_ptr<QSystemTrayIcon> embedded_;
};

}  // namespace morvane
