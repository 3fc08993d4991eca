#include "app_delegate.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QProxyStyle>
#include <QScreen>
#include <iostream>
#include <iterator>

#include "agents.h"
#include "app_identifier.h"
#include "desktop_color_scheme.h"
#include "language.h"
#include "menu_placement.h"
#include "status_icon.h"
#include "work_area.h"

namespace morvane {
namespace {

/// A menu taller than the screen scrolls, as menus do on the Mac, instead of growing columns.
class ScrollingMenuStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returned) const override {
    if (hint == QStyle::SH_Menu_Scrollable)
      return 1;
    return QProxyStyle::styleHint(hint, option, widget, returned);
  }
};

QStyle* scrollingMenuStyle() {
  static QPointer<QStyle> style;
  if (!style) {
    style = new ScrollingMenuStyle;
    style->setParent(QCoreApplication::instance());
  }
  return style;
}

std::string shortVersion(const platform::Bundle& bundle) {
  auto found = bundle.info.find("CFBundleShortVersionString");
  return found != bundle.info.end() ? found->second : "0";
}

}  // namespace

AppDelegate::AppDelegate(platform::Bundle bundle, std::unique_ptr<Alerts> alerts)
    : paths(Paths::defaultPaths()),
      work(std::string(kAppIdentifier) + ".work"),
      currentVersion(shortVersion(bundle)),
      bundle_(std::move(bundle)),
      alerts_(std::move(alerts)) {
  menu.setStyle(scrollingMenuStyle());
  connect(&menu, &QMenu::aboutToShow, this, &AppDelegate::menuWillOpen);
  connect(&menu, &QMenu::aboutToHide, this, &AppDelegate::menuDidClose);
  menu.installEventFilter(this);
  connect(&menu, &QMenu::hovered, this, &AppDelegate::highlightRow);
}

AppDelegate::~AppDelegate() = default;

SettingsStore& AppDelegate::settings() {
  if (!settings_)
    settings_ = std::make_unique<SettingsStore>(paths);
  return *settings_;
}

void AppDelegate::applicationDidFinishLaunching() {
  if (!bundle_.identifier.empty() && !becomeTheOnlyInstance()) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
    return;
  }
  Language::apply(settings().value().language);
  note = settings().problem();  // settings.json could not be read: say so, once

  // Desktop trays cannot show the switch rows: the rich menu is shown by hand where it can be
  // placed beside the icon (X11), and panels that draw menus themselves get a plain one.
  StatusItem::Handlers clicks;
  clicks.activate = [this](const QPoint& at) {
    if (StatusItem::clickShowsExportedMenu())
      popUpNativeMenu(at);
    else
      popUpMenu();
  };
  clicks.contextMenu = clicks.activate;
  clicks.secondaryActivate = [this] { openAgentsFolder(); };
  clicks.menu = [this] { return nativeMenu(); };
  clicks.menuOpening = [this] { refresh(); };
  statusItem = std::make_unique<StatusItem>(std::move(clicks));
  // Drawn for the desktop's colour scheme once the desktop has said which it is.
  new DesktopColorScheme(
      [this](StatusIcon::Scheme scheme) {
        StatusIcon::setScheme(scheme);
        updateIcon();
      },
      this);
  updateIcon();
  if (!statusItem->show())
    std::cerr << L("Morvane：没有可用的系统托盘，状态栏图标要等托盘出现后才会显示。",
                   "Morvane: no system tray is available; the status icon shows once one "
                   "appears.")
              << std::endl;

  refresh();
  watchRuns();
  scheduleUpdateChecks();
}

bool AppDelegate::becomeTheOnlyInstance() {
  // One lock per user and data directory: the user's copies share their settings, so only one
  // of them may run; other users, and copies with a data directory of their own, are apart.
  const std::filesystem::path file = paths.root / (bundle_.identifier + ".lock");
  const Outcome directory = paths.ensureDirectories();
  Result<std::optional<InstanceLock>> taken =
      directory ? InstanceLock::acquire(file) : std::unexpected(directory.error());
  if (!taken) {
    std::cerr << L("Morvane：无法确认是否已有另一个副本在运行：",
                   "Morvane: cannot tell whether another copy is running: ")
              << taken.error().text << std::endl;
    return true;
  }
  if (!*taken) {
    const std::optional<pid_t> holder = InstanceLock::holder(file);
    const std::string process = holder ? std::to_string(*holder) : "?";
    std::cerr << L([&] { return "Morvane 已在运行（进程 " + process + "）。"; },
                   [&] { return "Morvane is already running (process " + process + ")."; })
              << std::endl;
    return false;
  }
  instanceLock_ = std::move(*taken);
  return true;
}

void AppDelegate::popUpMenu() {
  if (menu.isVisible())
    return;
  const QPoint pointer = QCursor::pos();
  const QScreen* screen = QGuiApplication::screenAt(pointer);
  if (screen == nullptr)
    screen = QGuiApplication::primaryScreen();
  const QRect icon = statusItem ? statusItem->geometry() : QRect();
  // Known before the menu is built: the agent rows are only as high as the space left there.
  workArea_ = screen != nullptr ? WorkArea::of(*screen) : QRect();
  anchor_ = MenuPlacement::anchor(icon, pointer, screen != nullptr ? screen->geometry() : QRect(),
                                  workArea_);
  menu.popup(anchor_);
  keepMenuWithinWorkArea();
}

void AppDelegate::placeMenu() {
  replacingMenu_ = true;
  menu.popup(anchor_.isNull() ? menu.pos() : anchor_);
  replacingMenu_ = false;
  keepMenuWithinWorkArea();
}

void AppDelegate::keepMenuWithinWorkArea() {
  // Menus may cover the panels; this one keeps clear of the panel it came from.
  const QRect placed = MenuPlacement::keepWithin(menu.geometry(), workArea_);
  if (placed != menu.geometry())
    menu.move(placed.topLeft());
}

void AppDelegate::menuWillOpen() {
  if (replacingMenu_)
    return;
  menuOpen = true;
  rebuildMenu();
  refresh();
}

void AppDelegate::menuDidClose() {
  menuOpen = false;
  anchor_ = QPoint();
  workArea_ = QRect();
  filter.clear();  // the next opening starts unfiltered
  menu.setMinimumWidth(0);
}

void AppDelegate::refresh() {
  work.submit([this, files = scheduleFiles_] {
    QMetaObject::invokeMethod(
        this,
        [this, scan = scanAgents(*files)]() mutable {
          if (takeScan(std::move(scan)))
            showChanges();
        },
        Qt::QueuedConnection);
  });
}

bool AppDelegate::takeScan(AgentScan scan) {
  std::optional<std::string> unknown;
  if (scan.scanned.problem)
    unknown = std::move(scan.scanned.problem->text);
  const bool changed = scan.scanned.agents != agents || scan.failed != failures ||
                       unknown != agentsUnknown || scan.invalid != invalidAgents ||
                       scan.schedules != schedules;
  agents = std::move(scan.scanned.agents);
  failures = std::move(scan.failed);
  invalidAgents = std::move(scan.invalid);
  schedules = std::move(scan.schedules);
  agentsUnknown = std::move(unknown);
  return changed;
}

AppDelegate::AgentScan AppDelegate::scanAgents(ScheduleFiles& files) {
  Agents::ScannedAgents scan = Agents::scanWithExitStatuses(Agents::defaultDirectory());
  FailedExits failed = failedExits(scan);
  AgentDiagnoses invalid = morvane::invalidAgents(scan.agents);
  std::map<std::string, Schedule> read = files.read(scan.agents);
  // Looked up by label for every row of every rebuild of the menu.
  std::unordered_map<std::string, Schedule> schedules(std::make_move_iterator(read.begin()),
                                                      std::make_move_iterator(read.end()));
  return {std::move(scan), std::move(failed), std::move(invalid), std::move(schedules)};
}

void AppDelegate::updateIcon() {
  if (!statusItem)
    return;
  const QString text =
      QString::fromStdString(L("Morvane：管理登录启动项", "Morvane: manage launch agents"));
  // A tray icon has no accessible description of its own: screen readers read its tooltip.
  statusItem->setIcon(StatusIcon::image());
  statusItem->setToolTip(text);
}

void AppDelegate::showChanges() {
  if (menuOpen)
    rebuildMenu();
  nativeMenuChanged();
}

void AppDelegate::nativeMenuChanged() {
  if (statusItem)
    statusItem->menuChanged();
  updateNativePopup();
}

void AppDelegate::presentWarning(const std::string& message, const std::string& informative) {
  menu.hide();
  if (nativePopup_)
    nativePopup_->hide();
  alerts_->warn(message, informative);
}

const std::string& AppDelegate::displayName(const std::string& label) {
  const FriendlyNames& names = settings().value().friendlyNames;
  auto found = names.find(label);
  // A blank name would leave the agent unrecognisable: it is shown by its label instead.
  if (found == names.end() || found->second.find_first_not_of(" \t\r\n\v\f") == std::string::npos)
    return label;
  return found->second;
}

}  // namespace morvane
