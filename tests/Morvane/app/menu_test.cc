// The menu's items, titles, enabled states, check marks and tooltips.

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWidgetAction>

#include "app_test_support.h"
#include "language.h"
#include "login_item.h"

namespace morvane {

using testing::rowTitled;
using testing::titles;

class MenuTest : public QObject {
  Q_OBJECT

  std::unique_ptr<testing::AppSandbox> sandbox_;
  std::shared_ptr<testing::Warnings> warnings_;

  std::unique_ptr<AppDelegate> delegate(platform::Bundle bundle = testing::appBundle()) {
    auto made = testing::makeDelegate(warnings_, std::move(bundle));
    Language::apply(made->settings().value().language);
    return made;
  }

  static Agent agent(std::string label, bool loaded, std::optional<int64_t> pid, bool disabled) {
    return Agent{
        label + ".plist", "/Users/me/Library/LaunchAgents/" + label + ".plist", label, loaded, pid,
        disabled};
  }

 private slots:
  void init() {
    // A launchctl that answers with nothing: no agent is loaded or disabled.
    sandbox_ = std::make_unique<testing::AppSandbox>("/bin/true");
    sandbox_->writeSettings(R"({"friendlyNames": {"com.example.backup": "Backup"}})");
    warnings_ = std::make_shared<testing::Warnings>();
  }
  void cleanup() {
    testing::flushDeletes();
    sandbox_.reset();
  }

  void withoutAgentsTheEmptyItemStandsBetweenSeparators() {
    auto app = delegate();
    app->rebuildMenu();
    QCOMPARE(titles(app->menu), (QStringList{
                                    "Launch Agents · 0 of 0 loaded",
                                    "---",
                                    "No launch agents in ~/Library/LaunchAgents",
                                    "---",
                                    "Open LaunchAgents in Finder",
                                    "---",
                                    "row:Launch at Login",
                                    "Language（语言）",
                                    "---",
                                    "Check for Updates (current 1.2.3)",
                                    "Quit Morvane",
                                }));
    const QList<QAction*> items = app->menu.actions();
    QVERIFY(!items[0]->isEnabled());
    QVERIFY(!items[2]->isEnabled());
    QVERIFY(items[4]->isEnabled());
    QVERIFY(items[9]->isEnabled());
    QVERIFY(items[10]->isEnabled());
    QVERIFY(items[10]->shortcut().isEmpty());
  }

  void statusLineShowsBusyBeforeNote() {
    auto app = delegate();
    app->busy = "Loading Backup";
    app->note = "Sync loaded";
    app->rebuildMenu();
    QCOMPARE(titles(app->menu).mid(0, 3),
             (QStringList{"Launch Agents · 0 of 0 loaded", "⏳ Loading Backup…", "---"}));
    QVERIFY(!app->menu.actions()[1]->isEnabled());

    app->busy.reset();
    app->rebuildMenu();
    QCOMPARE(titles(app->menu)[1], QStringLiteral("Sync loaded"));
    app->note.reset();
    app->rebuildMenu();
    QCOMPARE(titles(app->menu)[1], QStringLiteral("---"));
  }

  void agentRowsShowNamesDetailsSwitchesAndTooltips() {
    auto app = delegate();
    app->agents = {agent("com.example.backup", true, 4242, false),
                   agent("com.example.both", true, 4243, true),
                   agent("com.example.off", false, std::nullopt, true),
                   agent("com.example.plain", false, std::nullopt, false)};
    app->rebuildMenu();
    QCOMPARE(titles(app->menu).mid(0, 7), (QStringList{
                                              "Launch Agents · 2 of 4 loaded",
                                              "---",
                                              "row:Backup",
                                              "row:com.example.both",
                                              "row:com.example.off",
                                              "row:com.example.plain",
                                              "---",
                                          }));
    SwitchRow* backup = rowTitled(app->menu, "Backup");
    QCOMPARE(backup->detail().value_or("(absent)"), QStringLiteral("pid 4242"));
    QVERIFY(backup->toggle()->isOn());
    QVERIFY(backup->enabled());
    // A friendly name changes the title, not the tooltip.
    QCOMPARE(backup->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.backup.plist"));

    SwitchRow* both = rowTitled(app->menu, "com.example.both");
    QCOMPARE(both->detail().value_or("(absent)"), QStringLiteral("pid 4243 · disabled"));
    QCOMPARE(both->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.both.plist"));

    SwitchRow* off = rowTitled(app->menu, "com.example.off");
    QCOMPARE(off->detail().value_or("(absent)"), QStringLiteral("disabled"));
    QVERIFY(!off->toggle()->isOn());
    QCOMPARE(off->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.off.plist\nDisabled with "
                            "launchctl disable. Turning it on re-enables it first."));

    SwitchRow* plain = rowTitled(app->menu, "com.example.plain");
    QVERIFY(!plain->detail());
  }

  void pendingRowIsFrozenInTheRequestedState() {
    auto app = delegate();
    app->agents = {agent("com.example.plain", false, std::nullopt, false),
                   agent("com.example.backup", true, 7, false)};
    app->pending["com.example.plain"] = true;
    app->rebuildMenu();
    SwitchRow* frozen = rowTitled(app->menu, "com.example.plain");
    QVERIFY(frozen->toggle()->isOn());
    QVERIFY(!frozen->enabled());
    QVERIFY(!frozen->toggle()->isSwitchEnabled());
    QVERIFY(rowTitled(app->menu, "Backup")->enabled());
  }

  void loginRowIsEnabledOnlyInsideABundle() {
    auto outside = delegate(testing::appBundle("/usr/local/bin", ""));
    outside->rebuildMenu();
    QVERIFY(!rowTitled(outside->menu, "Launch at Login")->enabled());
    QCOMPARE(outside->currentVersion, std::string("0"));

    auto inside = delegate();
    inside->rebuildMenu();
    QVERIFY(rowTitled(inside->menu, "Launch at Login")->enabled());
    QVERIFY(rowTitled(inside->menu, "Launch at Login")->toolTip().isEmpty());
  }

  void loginRowWritesAndRemovesTheLoginItem() {
    auto app = delegate();
    app->rebuildMenu();
    QTest::mouseClick(rowTitled(app->menu, "Launch at Login"), Qt::LeftButton, {}, QPoint(30, 16));
    QVERIFY(LoginItem::isEnabled());
    QVERIFY(testing::readTextFile(LoginItem::path()).find("/Applications/Morvane.app") !=
            std::string::npos);
    // The next build reads the file again.
    app->rebuildMenu();
    SwitchRow* row = rowTitled(app->menu, "Launch at Login");
    QVERIFY(row->toggle()->isOn());
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(30, 16));
    QVERIFY(!LoginItem::isEnabled());
    QVERIFY(warnings_->empty());
  }

  void loginRowFailureIsShownWithTheSystemsReason() {
    auto app = delegate();
    // LaunchAgents is a file: the login item cannot be written into it.
    std::filesystem::remove_all(sandbox_->agentsDirectory());
    testing::writeTextFile(sandbox_->agentsDirectory(), "not a directory");
    app->menu.popup(QPoint(0, 0));
    QVERIFY(app->menuOpen);
    QTest::mouseClick(rowTitled(app->menu, "Launch at Login"), Qt::LeftButton, {}, QPoint(30, 16));
    QCOMPARE(warnings_->size(), size_t(1));
    QCOMPARE(warnings_->front().first, std::string("Couldn't change the login item"));
    QVERIFY(warnings_->front().second.find(sandbox_->agentsDirectory().string()) !=
            std::string::npos);
    QVERIFY(!app->menu.isVisible());
    QVERIFY(!app->menuOpen);
    QVERIFY(!LoginItem::isEnabled());
  }

  void languageSubmenuMarksTheStoredPreference_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("marked");
    QTest::newRow("absent") << QString() << "System Default";
    QTest::newRow("zh") << "\"zh\""
                        << "中文";
    QTest::newRow("en") << "\"en\""
                        << "English";
    QTest::newRow("other") << "\"fr\"" << QString();
  }

  void languageSubmenuMarksTheStoredPreference() {
    QFETCH(QString, stored);
    QFETCH(QString, marked);
    if (!stored.isEmpty())
      sandbox_->writeSettings("{\"language\": " + stored.toStdString() + "}");
    auto app = delegate();
    app->rebuildMenu();
    QMenu* submenu = testing::itemTitled(app->menu, "Language（语言）")->menu();
    QCOMPARE(titles(*submenu), (QStringList{"System Default", "中文", "English"}));
    QStringList checked;
    for (QAction* option : submenu->actions()) {
      QVERIFY(option->isEnabled());
      if (option->isChecked())
        checked << option->text();
    }
    QCOMPARE(checked, marked.isEmpty() ? QStringList() : QStringList{marked});
  }

  void choosingALanguageStoresItAndSwitchesTheTexts() {
    sandbox_.reset();
    sandbox_ = std::make_unique<testing::AppSandbox>("/nonexistent/launchctl", nullptr);
    sandbox_->writeSettings(R"({"language": "en"})");
    auto app = delegate();
    app->statusItem = std::make_unique<QSystemTrayIcon>();
    app->updateIcon();
    QCOMPARE(app->statusItem->toolTip(), QStringLiteral("Morvane: manage launch agents"));
    app->note = "Backup loaded";
    app->rebuildMenu();
    testing::itemTitled(app->menu, "Language（语言）")->menu()->actions()[1]->trigger();

    QCOMPARE(app->settings().value().language, std::optional<std::string>("zh"));
    QVERIFY(testing::readTextFile(sandbox_->dataDirectory() / "settings.json").find("\"zh\"") !=
            std::string::npos);
    QVERIFY(!app->note);
    QCOMPARE(app->statusItem->toolTip(), QStringLiteral("Morvane：管理登录启动项"));
    app->agents = {agent("com.example.off", false, std::nullopt, true)};
    app->rebuildMenu();
    QCOMPARE(titles(app->menu), (QStringList{
                                    "启动项 · 共 1 个，已加载 0 个",
                                    "---",
                                    "row:com.example.off",
                                    "---",
                                    "在访达中打开 LaunchAgents",
                                    "---",
                                    "row:登录时启动",
                                    "语言（Language）",
                                    "---",
                                    "检查更新（当前 1.2.3）",
                                    "退出 Morvane",
                                }));
    QCOMPARE(rowTitled(app->menu, "com.example.off")->detail().value_or("(absent)"),
             QStringLiteral("已停用"));
    QVERIFY(rowTitled(app->menu, "com.example.off")
                ->toolTip()
                .endsWith("\n已被 launchctl disable 停用，拨开会先解除停用再加载"));
    Language::apply("en");
  }

  void badNamesAndLabelsStayWithinTheRowWidth() {
    const std::string longName(3000, 'n');
    sandbox_->writeSettings(R"({"friendlyNames": {"empty": "", "blank": "  ", "long": ")" +
                            longName +
                            R"(", "control": "a\nb\tc\u0007d", "markup": "<b>x</b> & y"}})");
    auto app = delegate();
    const std::string hugeLabel(10000, 'L');
    for (const char* label : {"empty", "blank", "long", "control", "markup"})
      app->agents.push_back(agent(label, false, std::nullopt, false));
    app->agents.push_back(agent(hugeLabel, true, 1, true));
    for (int i = 0; i < 1000; ++i)
      app->agents.push_back(agent("com.example.many" + std::to_string(i), i % 2 == 0, i, false));
    app->note = hugeLabel + " loaded";
    app->rebuildMenu();

    // A blank friendly name would leave the row unrecognisable: the label shows instead.
    QVERIFY(rowTitled(app->menu, "empty"));
    QVERIFY(rowTitled(app->menu, "blank"));
    QVERIFY(rowTitled(app->menu, "a b c d"));
    QCOMPARE(rowTitled(app->menu, "<b>x</b> & y")->shownTitle(), QStringLiteral("<b>x</b> & y"));
    for (SwitchRow* row : testing::rows(app->menu))
      QVERIFY(row->sizeHint().width() <= SwitchRow::kMaxWidth);
    QCOMPARE(testing::rows(app->menu).size(), size_t(1006 + 1));
    QVERIFY(app->menu.actions()[1]->text().size() < 200);

    app->menu.popup(QPoint(0, 0));
    QVERIFY(app->menu.isVisible());
    QVERIFY(app->menu.width() <= SwitchRow::kMaxWidth + 60);
    app->menu.hide();
  }

  void openMenuWidensForARowThatGrew() {
    auto app = delegate();
    app->menu.popup(QPoint(0, 0));
    QTRY_VERIFY(app->menu.isVisible());
    QTest::qWait(300);  // the opening's scan has come back
    app->agents = {agent("com.example.alpha", false, std::nullopt, false)};
    app->rebuildMenu();
    QCoreApplication::processEvents();
    const int before = app->menu.width();
    // Loaded, the row gains its process id: the open menu makes room instead of cutting the title.
    app->agents = {agent("com.example.alpha", true, 1234567, true)};
    app->rebuildMenu();
    QCoreApplication::processEvents();
    SwitchRow* row = rowTitled(app->menu, "com.example.alpha");
    QVERIFY(row);
    QVERIFY(row->width() >= row->sizeHint().width());
    QVERIFY(app->menu.width() > before);
    QCOMPARE(row->shownTitle(), row->title());
    app->menu.hide();
  }

  void rebuildingFromARowsOwnClickKeepsTheRowAlive() {
    auto app = delegate();
    app->agents = {agent("com.example.plain", false, std::nullopt, false)};
    app->menu.popup(QPoint(0, 0));
    QPointer<SwitchRow> row = rowTitled(app->menu, "com.example.plain");
    QVERIFY(row);
    // The click starts a toggle, which rebuilds the open menu while the row's handler runs.
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(30, 16));
    QVERIFY(row);
    QVERIFY(!app->menu.actions().isEmpty());
    QVERIFY(!rowTitled(app->menu, "com.example.plain")->enabled());
    testing::flushDeletes();
    QVERIFY(!row);
    app->menu.hide();
    QTRY_COMPARE_WITH_TIMEOUT(app->running, int64_t(0), 15000);
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::MenuTest)
#include "menu_test.moc"
