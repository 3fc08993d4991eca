// The controller: start-up, the refresh cycle with the menu open and closed, the update item.

#include <QTest>
#include <QTimer>

#include "agents.h"
#include "app_test_support.h"
#include "language.h"
#include "menu_placement.h"
#include "platform.h"
#include "shell.h"
#include "status_icon.h"
#include "work_area.h"

namespace morvane {

using testing::titles;

class AppDelegateTest : public QObject {
  Q_OBJECT

  std::unique_ptr<testing::AppSandbox> sandbox_;
  std::shared_ptr<testing::Warnings> warnings_;

  static constexpr int kTimeoutMs = 20000;

  QTimer* timerNamed(AppDelegate& app, const char* name) {
    return app.findChild<QTimer*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
  }

 private slots:
  void init() {
    sandbox_ = std::make_unique<testing::AppSandbox>(LAUNCHCTL_STANDIN);
    warnings_ = std::make_shared<testing::Warnings>();
  }
  void cleanup() {
    testing::flushDeletes();
    sandbox_.reset();
  }

  void menuOpensBesideThePanel() {
    using MenuPlacement::anchor;
    using MenuPlacement::keepWithin;
    const QRect screen(0, 0, 800, 420);
    // Where the tray tells where the icon is: below it, or above it on a bottom panel.
    QCOMPARE(anchor(QRect(700, 0, 24, 24), {710, 10}, screen, screen), QPoint(700, 24));
    QCOMPARE(anchor(QRect(700, 396, 24, 24), {710, 405}, screen, screen), QPoint(700, 396));
    // Where it does not, the pointer is on the icon, on the panel: against the panel's edge.
    const QRect belowTop(0, 27, 800, 393), aboveBottom(0, 0, 800, 390);
    const QRect rightOfLeft(40, 0, 760, 420), leftOfRight(0, 0, 760, 420);
    QCOMPARE(anchor({}, {675, 13}, screen, belowTop), QPoint(675, 27));
    QCOMPARE(anchor({}, {400, 405}, screen, aboveBottom), QPoint(400, 390));
    QCOMPARE(anchor({}, {10, 200}, screen, rightOfLeft), QPoint(40, 200));
    QCOMPARE(anchor({}, {790, 200}, screen, leftOfRight), QPoint(760, 200));
    QCOMPARE(anchor({}, {300, 200}, screen, screen), QPoint(300, 200));
    // A menu that would cover a panel or leave the screen moves off it, where it fits.
    QCOMPARE(keepWithin(QRect(675, 13, 260, 182), belowTop), QRect(540, 27, 260, 182));
    QCOMPARE(keepWithin(QRect(400, 300, 260, 182), aboveBottom), QRect(400, 208, 260, 182));
    QCOMPARE(keepWithin(QRect(5, 100, 260, 182), rightOfLeft), QRect(40, 100, 260, 182));
    QCOMPARE(keepWithin(QRect(100, 27, 260, 500), belowTop), QRect(100, 27, 260, 500));

    // Without a window manager to say, the panels' struts tell where the free area ends.
    using WorkArea::Strut;
    const QSize display(800, 420);
    QCOMPARE(WorkArea::within(screen, display, {{Strut::top, 27, 0, 799}}), belowTop);
    QCOMPARE(WorkArea::within(screen, display, {{Strut::bottom, 30, 0, 799}}), aboveBottom);
    QCOMPARE(WorkArea::within(screen, display,
                              {{Strut::left, 40, 0, 419}, {Strut::right, 40, 100, 300}}),
             QRect(40, 0, 720, 420));
    // A strut along another monitor's stretch of the edge leaves this screen alone.
    const QRect second(800, 0, 800, 420);
    QCOMPARE(WorkArea::within(second, QSize(1600, 420), {{Strut::top, 27, 0, 799}}), second);
  }

  void constructionTouchesNoSettings() {
    auto app = testing::makeDelegate(warnings_);
    QVERIFY(!std::filesystem::exists(sandbox_->dataDirectory() / "settings.json"));
    QCOMPARE(app->work.label(), std::string("org.morvane.Morvane.work"));
    QCOMPARE(app->currentVersion, std::string("1.2.3"));
    QVERIFY(std::holds_alternative<UpdateStates::Idle>(app->updateState));
    QVERIFY(!app->menuOpen);
  }

  void launchSetsUpIconMenuScanAndUpdateTimers() {
    sandbox_->writeAgent("com.example.sleeper");
    auto app = testing::makeDelegate(warnings_);
    app->applicationDidFinishLaunching();
    QVERIFY(std::filesystem::exists(sandbox_->dataDirectory() / "settings.json"));
    QVERIFY(app->statusItem);
    QCOMPARE(app->statusItem->toolTip(), QStringLiteral("Morvane: manage launch agents"));
    QCOMPARE(app->statusItem->icon().cacheKey(), StatusIcon::image().cacheKey());
    QTRY_COMPARE_WITH_TIMEOUT(app->agents.size(), size_t(1), kTimeoutMs);

    QTimer* first = timerNamed(*app, "firstUpdateCheck");
    QTimer* periodic = timerNamed(*app, "periodicUpdateCheck");
    QVERIFY(first && periodic);
    QVERIFY(first->isActive() && first->isSingleShot());
    QCOMPARE(first->interval(), 30 * 1000);
    QVERIFY(periodic->isActive() && !periodic->isSingleShot());
    QCOMPARE(periodic->interval(), 6 * 60 * 60 * 1000);
  }

  void scanWhileClosedUpdatesAgentsWithoutRebuilding() {
    auto app = testing::makeDelegate(warnings_);
    app->rebuildMenu();
    QPointer<QAction> header = app->menu.actions().first();
    sandbox_->writeAgent("com.example.sleeper");
    app->refresh();
    QTRY_COMPARE_WITH_TIMEOUT(app->agents.size(), size_t(1), kTimeoutMs);
    testing::flushDeletes();
    QVERIFY(header);
    QCOMPARE(header->text(), QStringLiteral("Launch Agents · 0 of 0 loaded"));
    // The next opening shows the new list at once.
    app->menu.popup(QPoint(0, 0));
    QCOMPARE(app->menu.actions().first()->text(), QStringLiteral("Launch Agents · 0 of 1 loaded"));
    QVERIFY(testing::rowTitled(app->menu, "com.example.sleeper"));
    app->menu.hide();
    QVERIFY(!app->menuOpen);
  }

  void openMenuIsRebuiltOnlyWhenAScanFindsAChange() {
    auto app = testing::makeDelegate(warnings_);
    app->menu.popup(QPoint(0, 0));
    // The opening's own scan finds nothing new: the menu stays as built.
    QPointer<QAction> header = app->menu.actions().first();
    app->refresh();
    app->refresh();
    QTest::qWait(300);
    testing::flushDeletes();
    QVERIFY(header);

    sandbox_->writeAgent("com.example.sleeper");
    app->refresh();
    QTRY_VERIFY_WITH_TIMEOUT(testing::rowTitled(app->menu, "com.example.sleeper"), kTimeoutMs);
    testing::flushDeletes();
    QVERIFY(!header);
    app->menu.hide();
  }

  void whatCouldNotBeReadIsSaidAndNotShownAsOffOrOverwritten() {
    // A launchctl that cannot run, and settings that are no JSON.
    platform::overrideToolPath(platform::Tool::launchctl, "/nonexistent/launchctl");
    sandbox_->writeSettings("{\"language\":");
    sandbox_->writeAgent("com.example.sleeper");
    auto app = testing::makeDelegate(warnings_);
    app->applicationDidFinishLaunching();
    QTRY_COMPARE_WITH_TIMEOUT(app->agents.size(), size_t(1), kTimeoutMs);
    app->rebuildMenu();
    const std::string settings = (sandbox_->dataDirectory() / "settings.json").string();
    const QStringList shown = titles(app->menu);
    QCOMPARE(shown.mid(2, 3), (QStringList{"---",
                                           "Loaded state unknown: launchctl list failed: "
                                           "/nonexistent/launchctl: No such file or directory",
                                           "---"}));
    QCOMPARE(shown[0], QStringLiteral("Launch Agents · ? of 1 loaded"));
    // The note is cut in the middle to fit the menu.
    QVERIFY2(shown[1].startsWith("Settings not read (/") &&
                 shown[1].endsWith("leaving the file as it is."),
             qPrintable(shown[1]));
    QVERIFY(testing::rows(app->menu).size() == 2);  // the two settings rows only
    QCOMPARE(testing::readTextFile(settings), std::string("{\"language\":"));

    // Once the list can be read again, the rows come back.
    platform::overrideToolPath(platform::Tool::launchctl, LAUNCHCTL_STANDIN);
    app->refresh();
    QTRY_VERIFY_WITH_TIMEOUT(!app->agentsUnknown, kTimeoutMs);
    app->rebuildMenu();
    QVERIFY(testing::rowTitled(app->menu, "com.example.sleeper"));
  }

  void anAgentThatExitedBadlyIsMarkedByTheScan() {
    const std::filesystem::path plist = sandbox_->writeAgent("com.example.false", "/bin/false");
    QVERIFY(Shell::run(LAUNCHCTL_STANDIN, {"bootstrap", Agents::guiDomain(), plist}, 20).ok());
    auto app = testing::makeDelegate(warnings_);
    app->menu.popup(QPoint(0, 0));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          app->refresh();
          SwitchRow* row = testing::rowTitled(app->menu, "com.example.false");
          return row && row->detail() == QStringLiteral("exited 1");
        }(),
        kTimeoutMs);
    QCOMPARE(app->failures.at("com.example.false").status, int64_t(1));
    app->menu.hide();
    Shell::run(LAUNCHCTL_STANDIN, {"bootout", Agents::serviceTarget("com.example.false")}, 20);
  }

  void updateItemFollowsTheState() {
    auto app = testing::makeDelegate(warnings_);
    Language::apply(std::nullopt);
    const std::pair<UpdateState, std::pair<QString, bool>> states[] = {
        {UpdateStates::Idle{}, {"Check for Updates (current 1.2.3)", true}},
        {UpdateStates::Checking{}, {"Checking for updates…", false}},
        {UpdateStates::Downloading{"2.0"}, {"Downloading 2.0…", false}},
        {UpdateStates::Ready{Staged{"2.0", "/tmp/Morvane.app"}},
         {"Install Update 2.0 and Restart", true}},
    };
    for (const auto& [state, expected] : states) {
      app->updateState = state;
      std::unique_ptr<QAction> item(app->updateItem());
      QCOMPARE(item->text(), expected.first);
      QCOMPARE(item->isEnabled(), expected.second);
      QVERIFY(item->shortcut().isEmpty());
    }
  }

  void checksLeaveABusyFlowAlone() {
    auto app = testing::makeDelegate(warnings_);
    app->updateState = UpdateStates::Downloading{"2.0"};
    app->checkForUpdate(true);
    app->checkForUpdate(false);
    QCOMPARE(app->updateState, UpdateState(UpdateStates::Downloading{"2.0"}));
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::AppDelegateTest)
#include "app_delegate_test.moc"
