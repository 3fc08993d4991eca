// The menu's items, titles, enabled states, check marks and tooltips.

#include <QApplication>
#include <QClipboard>
#include <QGlyphRun>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QTextLayout>
#include <QWidgetAction>

#include "app_test_support.h"
#include "dbus_menu.h"
#include "language.h"
#include "login_item.h"
#include "search_item.h"
#include "switch_row_item.h"

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

  /// Whether every character of `text` is drawn from a font that has it, in `font` or one the
  /// system falls back to; a character no installed font has is drawn as a box.
  static bool hasEveryGlyph(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns())
      for (quint32 glyph : run.glyphIndexes())
        if (glyph == 0)
          return false;
    return true;
  }

  /// What the rich menu says, item by item, as a panel's menu would say it: a switch row's
  /// title and detail joined, "---" for separators, a submenu's items after its title.
  static QStringList richTexts(const QMenu& menu) {
    QStringList texts;
    for (QAction* action : menu.actions()) {
      if (action->isSeparator()) {
        texts << "---";
      } else if (auto* item = dynamic_cast<SwitchRowItem*>(action)) {
        const SwitchRow* row = item->row();
        texts << row->title() + (row->detail() ? " · " + *row->detail() : QString()) +
                     (row->toggle()->isOn() ? " [on]" : "") + (row->enabled() ? "" : " [off]");
      } else if (auto* list = dynamic_cast<AgentListItem*>(action)) {
        for (size_t index : list->list()->shown()) {
          const AgentList::Row& row = list->list()->row(index);
          texts << row.title + (row.detail ? " · " + *row.detail : QString()) +
                       (row.isOn ? " [on]" : "") + (row.enabled ? "" : " [off]");
        }
      } else {
        texts << QString(action->text()).replace("&&", "&") + (action->isChecked() ? " [on]" : "") +
                     (action->isEnabled() ? "" : " [off]");
        if (action->menu())
          texts << richTexts(*action->menu());
      }
    }
    return texts;
  }

  /// The same of the menu handed to panels.
  static QStringList nativeTexts(const NativeMenuItem& menu) {
    QStringList texts;
    for (const NativeMenuItem& item : menu.children) {
      texts << (item.separator ? QStringLiteral("---")
                               : QString::fromStdString(item.label) + (item.on ? " [on]" : "") +
                                     (item.enabled || !item.children.empty() ? "" : " [off]"));
      texts << nativeTexts(item);
    }
    return texts;
  }

  /// What Morvane's own popup of that menu says, in the same form.
  static QStringList popupTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions()) {
      QString text = action->text();
      text.replace(QStringLiteral("&&"), QStringLiteral("&"));
      texts << (action->isSeparator() ? QStringLiteral("---")
                                      : text + (action->isChecked() ? " [on]" : "") +
                                            (action->isEnabled() ? "" : " [off]"));
      if (action->menu() != nullptr)
        texts << popupTexts(*action->menu());
    }
    return texts;
  }

  /// The labels of one level of an exported layout.
  static QStringList layoutLabels(const dbus::MenuLayout& layout) {
    QStringList labels;
    for (const dbus::MenuLayout& child : layout.children)
      labels << child.properties.value("label", "---").toString();
    return labels;
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
                                    "New Agent…",
                                    "Open LaunchAgents in Finder",
                                    "---",
                                    "row:Launch at Login",
                                    "row:Notify on Failure",
                                    "Language（语言）",
                                    "---",
                                    "Check for Updates (current 1.2.3)",
                                    "Quit Morvane",
                                }));
    const QList<QAction*> items = app->menu.actions();
    QVERIFY(!items[0]->isEnabled());
    QVERIFY(!items[2]->isEnabled());
    QVERIFY(items[4]->isEnabled());
    QVERIFY(items[5]->isEnabled());
    QVERIFY(items[10]->isEnabled());
    QVERIFY(items[11]->isEnabled());
    QVERIFY(items[11]->shortcut().isEmpty());
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
    QVERIFY(backup->detailColor() != SwitchRow::warningColor(backup->palette()));

    // Schedules: a loaded calendar agent waiting for its time says when; the tooltip says the
    // whole schedule, listing entries the summary only counts.
    app->agents.push_back(agent("com.example.timer", true, std::nullopt, false));
    app->agents.push_back(agent("com.example.never", true, std::nullopt, false));
    app->schedules = {
        {"com.example.backup", Schedule{.calendar = {{}}}},
        {"com.example.off",
         Schedule{.calendar = {{.minute = 0, .hour = 8}, {.minute = 30, .hour = 12}}}},
        {"com.example.plain", Schedule{.startInterval = 300, .keepAlive = true}},
        {"com.example.timer", Schedule{.calendar = {{}}, .runAtLoad = true}},
        {"com.example.never", Schedule{.calendar = {{.day = 30, .month = 2}}}},
    };
    app->rebuildMenu();
    const QRegularExpression nextRun("^next (\\d+ \\w+ )?\\d\\d:\\d\\d$");
    SwitchRow* timer = rowTitled(app->menu, "com.example.timer");
    QVERIFY2(nextRun.match(timer->detail().value_or("")).hasMatch(),
             qPrintable(timer->detail().value_or("(absent)")));
    QCOMPARE(timer->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.timer.plist\n"
                            "every minute, at load"));
    QVERIFY(!rowTitled(app->menu, "com.example.never")->detail());
    QCOMPARE(rowTitled(app->menu, "Backup")->detail().value_or("(absent)"),
             QStringLiteral("pid 4242"));
    QCOMPARE(rowTitled(app->menu, "com.example.off")->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.off.plist\n"
                            "2 times a day\n  · daily at 08:00\n  · daily at 12:30\nDisabled with "
                            "launchctl disable. Turning it on re-enables it first."));
    QCOMPARE(rowTitled(app->menu, "com.example.plain")->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.plain.plist\n"
                            "every 5 min, kept alive"));
    qputenv("MORVANE_LANG", "zh");
    Language::apply(std::nullopt);
    app->rebuildMenu();
    QVERIFY(rowTitled(app->menu, "com.example.timer")->detail().value_or("").startsWith("下次 "));
    // Described again in the new language, and again when the schedule changes.
    QCOMPARE(rowTitled(app->menu, "com.example.plain")->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.plain.plist\n"
                            "每 5 分钟，保持运行"));
    app->schedules["com.example.plain"] = Schedule{.startInterval = 600};
    app->rebuildMenu();
    QCOMPARE(rowTitled(app->menu, "com.example.plain")->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.plain.plist\n每 10 分钟"));
    qputenv("MORVANE_LANG", "en");
    Language::apply(std::nullopt);
  }

  void failedAgentsShowHowTheyEndedInTheWarningColour() {
    auto app = delegate();
    app->agents = {agent("com.example.failed", true, std::nullopt, false),
                   agent("<b>bold</b>", true, std::nullopt, false),
                   agent("com.example.killed", true, std::nullopt, true),
                   agent("com.example.odd", true, std::nullopt, false),
                   agent("com.example.frozen", true, std::nullopt, false),
                   agent("com.example.invalid", false, std::nullopt, false)};
    app->failures = {{"com.example.failed", {3, "Error: <b>no</b> config & more"}},
                     {"<b>bold</b>", {2, "<i>x</i>"}},
                     {"com.example.killed", {-9, std::nullopt}},
                     {"com.example.odd", {-300, std::nullopt}},
                     {"com.example.frozen", {1, std::nullopt}}};
    app->pending["com.example.frozen"] = false;
    const AgentProblem missing{AgentProblem::error, "program-missing",
                               "its program /opt/x does not exist",
                               "install it or correct the path"};
    const AgentProblem slip{AgentProblem::error, "near-key", "RunAtload", "did you mean RunAtLoad?",
                            true};
    app->invalidAgents = {
        {"/Users/me/Library/LaunchAgents/com.example.odd.plist", {missing}},
        {"/Users/me/Library/LaunchAgents/com.example.invalid.plist", {missing, slip}}};
    app->rebuildMenu();

    SwitchRow* failed = rowTitled(app->menu, "com.example.failed");
    QCOMPARE(failed->detail().value_or("(absent)"), QStringLiteral("exited 3"));
    QCOMPARE(failed->detailColor(), SwitchRow::warningColor(failed->palette()));
    // Paths and log lines are shown as written, never as markup.
    auto shownTip = [](SwitchRow* row) {
      QTextDocument shown;
      if (Qt::mightBeRichText(row->toolTip()))
        shown.setHtml(row->toolTip());
      else
        shown.setPlainText(row->toolTip());
      return shown.toPlainText();
    };
    QCOMPARE(shownTip(failed),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.failed.plist\n"
                            "Error: <b>no</b> config & more"));
    QCOMPARE(shownTip(rowTitled(app->menu, "<b>bold</b>")),
             QStringLiteral("/Users/me/Library/LaunchAgents/<b>bold</b>.plist\n<i>x</i>"));

    SwitchRow* killed = rowTitled(app->menu, "com.example.killed");
    QCOMPARE(killed->detail().value_or("(absent)"), QStringLiteral("disabled · killed by SIGKILL"));
    QCOMPARE(killed->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.killed.plist"));
    QCOMPARE(rowTitled(app->menu, "com.example.odd")->detail().value_or("(absent)"),
             QStringLiteral("exited -300 · invalid"));
    // A file with errors is marked in the error colour, its problems listed in the tooltip.
    SwitchRow* invalid = rowTitled(app->menu, "com.example.invalid");
    QCOMPARE(invalid->detail().value_or("(absent)"), QStringLiteral("invalid"));
    QCOMPARE(invalid->detailColor(), SwitchRow::warningColor(invalid->palette()));
    QCOMPARE(shownTip(invalid),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.invalid.plist\n"
                            "Its program /opt/x does not exist: install it or correct the path.\n"
                            "RunAtload: did you mean RunAtLoad?"));
    // A frozen row keeps the disabled colour.
    SwitchRow* frozen = rowTitled(app->menu, "com.example.frozen");
    QCOMPARE(frozen->detailColor(), frozen->titleColor());

    qputenv("MORVANE_LANG", "zh");
    Language::apply(std::nullopt);
    app->rebuildMenu();
    QCOMPARE(rowTitled(app->menu, "com.example.failed")->detail().value_or("(absent)"),
             QStringLiteral("退出码 3"));
    QCOMPARE(rowTitled(app->menu, "com.example.killed")->detail().value_or("(absent)"),
             QStringLiteral("已停用 · 被 SIGKILL 终止"));
    QCOMPARE(rowTitled(app->menu, "com.example.invalid")->detail().value_or("(absent)"),
             QStringLiteral("无效"));
    qputenv("MORVANE_LANG", "en");
    Language::apply(std::nullopt);
  }

  void everyTextIsDrawnWithRealGlyphs_data() {
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << "en";
    QTest::newRow("Chinese") << "zh";
  }

  void everyTextIsDrawnWithRealGlyphs() {
    QFETCH(QString, language);
    qputenv("MORVANE_LANG", language.toUtf8());
    auto app = delegate();
    app->agents = {agent("com.example.both", true, 4243, true)};
    app->busy = L("加载「Backup」", "Loading Backup");
    app->rebuildMenu();
    QStringList drawn;
    for (QAction* item : app->menu.actions()) {
      if (item->isSeparator())
        continue;
      QVERIFY2(hasEveryGlyph(item->text(), app->menu.font()), qPrintable(item->text()));
      drawn << item->text();
      if (QMenu* submenu = item->menu())
        for (QAction* option : submenu->actions())
          QVERIFY2(hasEveryGlyph(option->text(), submenu->font()), qPrintable(option->text()));
    }
    for (SwitchRow* row : testing::rows(app->menu)) {
      QVERIFY2(hasEveryGlyph(row->shownTitle(), row->titleFont()), qPrintable(row->title()));
      if (row->detail())
        QVERIFY2(hasEveryGlyph(*row->detail(), row->detailFont()), qPrintable(*row->detail()));
    }
    // The texts with the rarest characters are among those checked.
    QVERIFY(drawn.contains(language == "en" ? "⏳ Loading Backup…" : "⏳ 加载「Backup」…"));
    QVERIFY(drawn.contains(language == "en" ? "Language（语言）" : "语言（Language）"));
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
    app->statusItem = std::make_unique<StatusItem>(StatusItem::Handlers{});
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
                                    "新建启动项…",
                                    "在访达中打开 LaunchAgents",
                                    "---",
                                    "row:登录时启动",
                                    "row:失败时通知",
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
                            R"(", "control": "a\nb\tc\u0007d", "markup": "<b>x</b> & y", )"
                            R"("bidi": "com.\u202eevil.gnp\u200f\u061c"}})");
    auto app = delegate();
    const std::string hugeLabel(10000, 'L');
    for (const char* label : {"empty", "blank", "long", "control", "markup", "bidi", "bad\xff"})
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
    // Bidirectional controls are shown, never obeyed: the row cannot pass for another name.
    QVERIFY(rowTitled(app->menu, "com.\\u202Eevil.gnp\\u200F\\u061C"));
    QVERIFY(rowTitled(app->menu, "bad\uFFFD"));
    for (SwitchRow* row : testing::rows(app->menu))
      QVERIFY(row->sizeHint().width() <= SwitchRow::kMaxWidth);
    QCOMPARE(app->agentList()->rowCount(), size_t(1008));
    QVERIFY(app->menu.actions()[1]->text().size() < 200);

    // Open, the whole menu fits the screen: the rows scroll between the filter and the items
    // below them, and only the rows in view are made.
    app->popUpMenu();
    QVERIFY(app->menu.isVisible());
    QVERIFY(app->menu.width() <= SwitchRow::kMaxWidth + 60);
    const QRect screen = app->menu.screen()->availableGeometry();
    QVERIFY(app->menu.geometry().height() <= screen.height());
    QVERIFY(screen.contains(app->menu.geometry()));
    AgentList* list = app->agentList();
    QVERIFY(list->visibleCount() >= 3 && list->visibleCount() < 30);
    QCOMPARE(testing::rows(app->menu).size(), list->visibleCount() + 2);  // and two settings rows
    for (const char* below : {"New Agent…", "Quit Morvane"}) {
      const QRect item = app->menu.actionGeometry(testing::itemTitled(app->menu, below));
      QVERIFY2(app->menu.rect().contains(item), below);
    }
    // The wheel scrolls the rows, and a row far down is shown as any other.
    QWheelEvent wheel(QPointF(40, 40), list->mapToGlobal(QPointF(40, 40)), {}, QPoint(0, -240),
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list, &wheel);
    QCOMPARE(list->top(), size_t(6));
    QCOMPARE(list->visibleRows().front()->title(), QStringLiteral("bad\uFFFD"));
    SwitchRow* far = rowTitled(app->menu, "com.example.many998");
    QVERIFY(far && far->isVisible() && list->rect().contains(far->geometry()));
    QCOMPARE(far->detail().value_or("(absent)"), QStringLiteral("pid 998"));
    QCOMPARE(far->toolTip(),
             QStringLiteral("/Users/me/Library/LaunchAgents/com.example.many998.plist"));
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

  void longListsHaveAFilterThatNarrowsTheRowsUntilEscape() {
    sandbox_->writeSettings(R"({"friendlyNames": {"com.example.backup": "Backup"}})");
    auto app = delegate();
    for (int i = 0; i < 12; ++i)
      app->agents.push_back(
          agent("com.example.job" + std::to_string(i), false, std::nullopt, false));
    app->rebuildMenu();
    QVERIFY(!dynamic_cast<SearchItem*>(app->menu.actions()[2]));

    app->agents.push_back(agent("com.example.backup", true, 7, false));
    app->agents.push_back(agent("org.example.Straße", false, std::nullopt, false));
    app->menu.popup(QPoint(0, 0));
    auto* search = dynamic_cast<SearchItem*>(app->menu.actions()[2]);
    QVERIFY(search);
    QLineEdit* field = search->field();
    QTRY_VERIFY(field->hasFocus());  // the keyboard is the field's as soon as the menu opens
    auto shown = [&] {
      QStringList rows;
      for (const QString& title : titles(app->menu))
        if (title.startsWith("row:") && title != "row:Launch at Login" &&
            title != "row:Notify on Failure")
          rows << title.mid(4);
      return rows;
    };
    QCOMPARE(shown().size(), 14);

    QTest::keyClicks(field, "BACK");  // the friendly name, in any case
    QCOMPARE(shown(), QStringList{"Backup"});
    QCOMPARE(app->menu.actions()[0]->text(), QStringLiteral("Launch Agents · 1 of 14 loaded"));
    app->setFilter("strasse");  // Unicode-aware: ß is ss
    QCOMPARE(shown(), QStringList{"org.example.Straße"});
    app->setFilter("JOB1");
    QCOMPARE(shown(), (QStringList{"com.example.job1", "com.example.job10", "com.example.job11"}));
    QAction* noMatch = testing::itemTitled(app->menu, "No agents match");
    QVERIFY(noMatch && !noMatch->isVisible() && !noMatch->isEnabled());

    // A rebuild while it is open keeps the filter, and the field keeps the keyboard.
    app->agents.push_back(agent("com.example.job100", false, std::nullopt, false));
    app->rebuildMenu();
    QCOMPARE(shown().size(), 4);
    field = dynamic_cast<SearchItem*>(app->menu.actions()[2])->field();
    QCOMPARE(field->text(), QStringLiteral("JOB1"));
    QTRY_VERIFY(field->hasFocus());

    QTest::keyClicks(field, "zz");
    QVERIFY(shown().isEmpty());
    QVERIFY(testing::itemTitled(app->menu, "No agents match")->isVisible());
    QTest::keyClick(field, Qt::Key_Escape);  // empties the filter, the menu stays
    QVERIFY(app->menu.isVisible());
    QCOMPARE(field->text(), QString());
    QCOMPARE(shown().size(), 15);
    QTest::keyClick(field, Qt::Key_Escape);  // now closes it
    QTRY_VERIFY(!app->menu.isVisible());
    QVERIFY(app->filter.empty());

    qputenv("MORVANE_LANG", "zh");
    Language::apply(std::nullopt);
    app->setFilter("zzz");
    app->rebuildMenu();
    QVERIFY(testing::itemTitled(app->menu, "没有匹配的启动项"));
    QCOMPARE(dynamic_cast<SearchItem*>(app->menu.actions()[2])->field()->placeholderText(),
             QStringLiteral("筛选启动项"));
    qputenv("MORVANE_LANG", "en");
    Language::apply(std::nullopt);
  }

  void agentActionsOpenTheLogTheFolderAndTheEditorAndCopyTheLabel() {
    // Stand-ins for the desktop's openers, each noting how it was called.
    const std::filesystem::path home = sandbox_->home();
    const std::filesystem::path calls = home / "calls";
    auto recorder = [&](const std::string& name, const std::string& then = "exit 0") {
      const std::filesystem::path script = home / name;
      testing::writeTextFile(script, "#!/bin/sh\necho \"" + name + " $*\" >> '" + calls.string() +
                                         "'\n" + then + "\n");
      std::filesystem::permissions(script, std::filesystem::perms::owner_all);
      return script;
    };
    platform::overrideToolPath(platform::Tool::xdgOpen, recorder("xdg-open"));
    platform::overrideToolPath(platform::Tool::dbusSend, recorder("dbus-send", "exit 1"));
    platform::overrideToolPath(platform::Tool::xdgMime,
                               recorder("xdg-mime", "echo editor.desktop"));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home.string()));
    testing::writeTextFile(
        home / "applications/editor.desktop",
        "[Desktop Entry]\nName=Editor\nExec=" + recorder("editor").string() + " --new-window %F\n");
    auto called = [&](const std::string& line) {
      return testing::readTextFile(calls).find(line + "\n") != std::string::npos;
    };

    const std::string plist = sandbox_->writeAgent("com.example.logged").string();
    testing::writeTextFile(home / "err.log", "oops\n");
    std::filesystem::remove(plist);
    testing::writeTextFile(plist,
                           "<plist><dict><key>Label</key><string>com.example.logged</string>"
                           "<key>StandardOutPath</key><string>" +
                               (home / "gone.log").string() +
                               "</string><key>StandardErrorPath</key><string>" +
                               (home / "err.log").string() + "</string></dict></plist>");
    Agent logged{
        "com.example.logged.plist", plist, "com.example.logged", false, std::nullopt, false};
    auto app = delegate();
    app->agents = {logged, agent("com.example.plain", false, std::nullopt, false)};
    app->menu.popup(QPoint(0, 0));

    // A right click opens the actions and leaves the switch alone.
    SwitchRow* row = rowTitled(app->menu, "com.example.logged");
    QTest::mouseClick(row, Qt::RightButton, {}, QPoint(30, 16));
    QVERIFY(!row->toggle()->isOn());
    QMenu* actions = app->agentActions();
    QTRY_VERIFY(actions && actions->isVisible());
    QCOMPARE(titles(*actions),
             (QStringList{"Show Log", "Reveal in Folder", "Edit", "Schedule…", "Copy Label"}));
    QVERIFY(actions->actions()[0]->isEnabled());  // the error log exists; the output log does not

    actions->actions()[0]->trigger();
    QVERIFY(!app->menu.isVisible());
    QTRY_VERIFY(called("xdg-open " + (home / "err.log").string()));
    // Without a file manager on the bus, the folder opens.
    app->actionsMenu(logged)->actions()[1]->trigger();
    QTRY_VERIFY(called("xdg-open " + sandbox_->agentsDirectory().string()));
    QVERIFY(
        called("dbus-send --session --print-reply --reply-timeout=5000 "
               "--dest=org.freedesktop.FileManager1 /org/freedesktop/FileManager1 "
               "org.freedesktop.FileManager1.ShowItems array:string:file://" +
               plist + " string:"));
    app->actionsMenu(logged)->actions()[2]->trigger();
    QTRY_VERIFY(called("editor --new-window " + plist));
    app->actionsMenu(logged)->actions()[4]->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("com.example.logged"));

    // No log to show; an opener that fails says why.
    QVERIFY(!app->actionsMenu(agent("com.example.plain", false, std::nullopt, false))
                 ->actions()[0]
                 ->isEnabled());
    platform::overrideToolPath(platform::Tool::xdgOpen, home / "missing-opener");
    app->actionsMenu(logged)->actions()[0]->trigger();
    QTRY_COMPARE(warnings_->size(), size_t(1));
    QCOMPARE(warnings_->front().first, std::string("Couldn't show the log"));
    QCOMPARE(warnings_->front().second,
             (home / "missing-opener").string() + ": No such file or directory");
    // The folder item says so too when no file manager is there to open it.
    platform::overrideToolPath(platform::Tool::xdgOpen, recorder("xdg-open", "exit 3"));
    testing::itemTitled(app->menu, "Open LaunchAgents in Finder")->trigger();
    QTRY_COMPARE(warnings_->size(), size_t(2));
    QCOMPARE(warnings_->back().first, std::string("Couldn't open the LaunchAgents folder"));
    QCOMPARE(warnings_->back().second, std::string("xdg-open ended with status 3"));
    qunsetenv("XDG_DATA_HOME");

    // A loaded agent's actions end with its last runs. launchctl is asked off the main thread:
    // the open actions say they are loading, and show the runs in that place once it answers.
    const std::filesystem::path answer = home / "answer";
    const std::filesystem::path printer = home / "print-runs";
    testing::writeTextFile(printer, "#!/bin/sh\nwhile [ ! -e '" + answer.string() +
                                        "' ]; do sleep 0.02; done\nexec /bin/sh '" +
                                        answer.string() + "'\n");
    std::filesystem::permissions(printer, std::filesystem::perms::owner_all);
    platform::overrideToolPath(platform::Tool::launchctl, printer);
    auto answerWith = [&](const std::string& script) {
      testing::writeTextFile(home / "answer.part", script);
      std::filesystem::rename(home / "answer.part", answer);
    };
    const Agent running{"com.example.logged.plist", plist, "com.example.logged", true, 42, false};
    QMenu* open = app->actionsMenu(running);
    // Against the screen's right edge, where the wider lines of the runs will not fit.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    open->popup(QPoint(screen.right() - open->sizeHint().width(), 0));
    QTRY_VERIFY(open->isVisible());
    const QStringList before = titles(*open);
    QCOMPARE(before.mid(before.size() - 3), (QStringList{"---", "Recent runs", "Loading…"}));
    const int height = open->height();
    answerWith(
        "printf '\\trun history = {\\n"
        "\\t\\t1765290000.000000 1765290001.500000 exited 3 load\\n"
        "\\t\\t1765290100.000000 - - - keepalive\\n\\t}\\n'\n");
    QTRY_VERIFY(!titles(*open).contains("Loading…"));
    QVERIFY(open->isVisible());
    const QStringList after = titles(*open);
    QCOMPARE(after.size(), before.size() + 1);
    QCOMPARE(after[after.size() - 3], QStringLiteral("Recent runs"));
    QVERIFY2(after[after.size() - 2].contains("running"), qPrintable(after.join('|')));
    QVERIFY2(after.back().contains("exited 3"), qPrintable(after.join('|')));
    QVERIFY(!open->actions().back()->isEnabled());
    QTRY_VERIFY(open->height() > height);        // the open menu grew to hold them
    QVERIFY(screen.contains(open->geometry()));  // and moved to stay on the screen
    open->hide();

    // Actions made again before launchctl answers take its answer, here why it failed; the ones
    // they replaced are gone, and nothing is put into them.
    std::filesystem::remove(answer);
    app->actionsMenu(running);
    QMenu* again = app->actionsMenu(running);
    answerWith("echo 'Could not find service' >&2\nexit 113\n");
    QTRY_VERIFY(!titles(*again).contains("Loading…"));
    QVERIFY2(titles(*again).back().contains("Could not find service"),
             qPrintable(titles(*again).join('|')));
    testing::flushDeletes();
  }

  void theKeyboardOpensARowsActionsAndFlipsItsSwitch() {
    auto app = delegate();
    app->agents = {agent("com.example.plain", false, std::nullopt, false)};
    app->menu.popup(QPoint(0, 0));
    QAction* item = app->menu.actions()[2];
    app->menu.setActiveAction(item);
    SwitchRow* row = rowTitled(app->menu, "com.example.plain");
    QVERIFY(row->highlighted());
    QTest::keyClick(&app->menu, Qt::Key_Right);
    QMenu* actions = app->agentActions();
    QTRY_VERIFY(actions && actions->isVisible());
    QCOMPARE(actions->activeAction(), actions->actions()[1]);  // the first one offered
    QTest::keyClick(actions, Qt::Key_Left);
    QVERIFY(!actions->isVisible());
    QVERIFY(app->menu.isVisible());

    QTest::keyClick(&app->menu, Qt::Key_Return);  // flips the switch, as a click does
    QVERIFY(app->menu.isVisible());
    QCOMPARE(app->pending.at("com.example.plain"), true);
    app->menu.setActiveAction(testing::itemTitled(app->menu, "Open LaunchAgents in Finder"));
    QVERIFY(!rowTitled(app->menu, "com.example.plain")->highlighted());
    app->menu.hide();
    QTRY_COMPARE_WITH_TIMEOUT(app->running, int64_t(0), 15000);

    // A long list, from the filter: the arrows, Page Up and Down, Home and End move the choice
    // through the rows and keep it in view; Space and Return flip the chosen row.
    for (int i = 0; i < 75; ++i)
      sandbox_->writeAgent(QString::asprintf("com.example.k%02d", i).toStdString());
    app->menu.popup(QPoint(0, 0));
    QTRY_COMPARE(app->agents.size(), size_t(75));
    QTRY_VERIFY(app->agentList() && app->agentList()->rowCount() == 75);
    QLineEdit* field = dynamic_cast<SearchItem*>(app->menu.actions()[2])->field();
    QTRY_VERIFY(field->hasFocus());
    AgentList* list = app->agentList();
    const size_t page = list->visibleCount();
    QVERIFY(page > 3 && page < 75);
    auto chosenTitle = [&] {
      return list->chosen() ? list->row(list->shown()[*list->chosen()]).title : QString();
    };
    auto inView = [&] {
      return list->chosen() && *list->chosen() >= list->top() &&
             *list->chosen() < list->top() + page;
    };
    QTest::keyClick(field, Qt::Key_Home);
    QCOMPARE(chosenTitle(), QStringLiteral("com.example.k00"));
    QVERIFY(rowTitled(app->menu, "com.example.k00")->highlighted());
    QTest::keyClick(field, Qt::Key_Down);
    QCOMPARE(chosenTitle(), QStringLiteral("com.example.k01"));
    QVERIFY(!rowTitled(app->menu, "com.example.k00")->highlighted());
    QTest::keyClick(field, Qt::Key_PageDown);
    QCOMPARE(*list->chosen(), page + 1);
    QVERIFY(inView() && list->top() > 0);
    QTest::keyClick(field, Qt::Key_End);
    QCOMPARE(chosenTitle(), QStringLiteral("com.example.k74"));
    QVERIFY(inView());
    QCOMPARE(list->top(), 75 - page);
    QTest::keyClick(field, Qt::Key_Up);
    QCOMPARE(chosenTitle(), QStringLiteral("com.example.k73"));
    QTest::keyClick(field, Qt::Key_PageUp);
    QCOMPARE(*list->chosen(), 73 - page);
    QTest::keyClick(field, Qt::Key_Home);
    QCOMPARE(chosenTitle(), QStringLiteral("com.example.k00"));
    QTest::keyClick(field, Qt::Key_Up);  // the filter keeps the keyboard on the rows
    QCOMPARE(chosenTitle(), QStringLiteral("com.example.k00"));
    QVERIFY(app->menu.isVisible() && field->hasFocus());
    QCOMPARE(field->text(), QString());

    // Typing narrows the rows and drops the choice, so Space is typed again.
    QTest::keyClicks(field, "k7");
    QVERIFY(!list->chosen());
    QTest::keyClick(field, Qt::Key_Space);
    QCOMPARE(field->text(), QStringLiteral("k7 "));
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(titles(app->menu).filter("row:com.example").size(), 5);
    QTest::keyClick(field, Qt::Key_End);
    QCOMPARE(chosenTitle(), QStringLiteral("com.example.k74"));
    QTest::keyClick(field, Qt::Key_Space);
    QCOMPARE(app->pending.at("com.example.k74"), true);
    QCOMPARE(field->text(), QStringLiteral("k7"));
    // Rebuilt while it is open, the menu keeps the filter and the chosen row.
    list = app->agentList();
    QCOMPARE(chosenTitle(), QStringLiteral("com.example.k74"));
    QVERIFY(!rowTitled(app->menu, "com.example.k74")->enabled());
    app->menu.hide();
    QTRY_COMPARE_WITH_TIMEOUT(app->running, int64_t(0), 15000);
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

  void theMenuForPanelsSaysWhatTheRichMenuSays() {
    sandbox_->writeSettings(
        R"({"friendlyNames": {"com.example.backup": "Backup"}, "language": "en"})");
    for (const char* language : {"en", "zh"}) {
      qputenv("MORVANE_LANG", language);
      auto app = delegate();
      app->agents = {agent("com.example.backup", true, 4242, false),
                     agent("com.example.failed", true, std::nullopt, true),
                     agent("com.example.off", false, std::nullopt, true),
                     agent("com.example.frozen", false, std::nullopt, false)};
      app->failures = {{"com.example.failed", {-9, std::nullopt}}};
      app->pending["com.example.frozen"] = true;
      app->busy = "Loading com.example.frozen";
      app->rebuildMenu();
      const QStringList rich = richTexts(app->menu);
      QCOMPARE(nativeTexts(app->nativeMenu()), rich);
      QCOMPARE(rich[3], QStringLiteral("Backup · pid 4242 [on]"));
      QVERIFY(rich.contains(language == std::string("en")
                                ? "com.example.failed · disabled · killed by SIGKILL [on]"
                                : "com.example.failed · 已停用 · 被 SIGKILL 终止 [on]"));
      QVERIFY(rich.contains("com.example.frozen [on] [off]"));

      // Nothing known: one line says why, in both.
      app->agentsUnknown = "launchctl list failed";
      app->rebuildMenu();
      QCOMPARE(nativeTexts(app->nativeMenu()), richTexts(app->menu));
    }
    qputenv("MORVANE_LANG", "en");
    Language::apply(std::nullopt);
  }

  void theMenuForPanelsPutsLongListsIntoSubmenusLoadedFirst() {
    auto app = delegate();
    for (int i = 0; i < 12; ++i)
      app->agents.push_back(
          agent("com.example.job" + std::to_string(i), false, std::nullopt, false));
    QCOMPARE(nativeTexts(app->nativeMenu())[2], QStringLiteral("com.example.job0"));

    // 7 loaded and 38 others, given in no order: the loaded ones come first, then the rest,
    // each part by name whatever the case, at most 20 to a submenu.
    app->agents.clear();
    for (int i = 44; i >= 0; --i) {
      char name[32];
      std::snprintf(name, sizeof name, "%s%02d", i % 2 == 0 ? "job" : "Job", i);
      app->agents.push_back(
          agent(name, i < 7, i < 7 ? std::optional<int64_t>(100 + i) : std::nullopt, false));
    }
    const NativeMenuItem menu = app->nativeMenu();
    std::vector<const NativeMenuItem*> groups;
    for (const NativeMenuItem& item : menu.children)
      if (!item.children.empty() && item.key != "language")
        groups.push_back(&item);
    QCOMPARE(groups.size(), size_t(3));
    QCOMPARE(QString::fromStdString(groups[0]->label), QStringLiteral("Loaded: job00 – job06"));
    QCOMPARE(QString::fromStdString(groups[1]->label), QStringLiteral("Not loaded: Job07 – job26"));
    QCOMPARE(QString::fromStdString(groups[2]->label), QStringLiteral("Not loaded: Job27 – job44"));
    QCOMPARE(groups[0]->children.size(), size_t(7));
    QCOMPARE(groups[1]->children.size(), size_t(20));
    QCOMPARE(groups[2]->children.size(), size_t(18));
    QCOMPARE(QString::fromStdString(groups[0]->children[1].label),
             QStringLiteral("Job01 · pid 101"));
    QVERIFY(groups[0]->children[1].on);
    QCOMPARE(QString::fromStdString(groups[1]->children[1].label), QStringLiteral("job08"));

    // Morvane's own popup of that menu says the same, and follows what changes while it is
    // open in place: it stays open, and so does its open submenu.
    const std::vector<Agent> agents = app->agents;
    app->popUpNativeMenu(QPoint(0, 0));
    QPointer<QMenu> popup = app->nativePopup();
    QTRY_VERIFY(popup && popup->isVisible());
    QTRY_VERIFY(app->agents.empty());  // the opening's scan, of no agents, came back
    app->agents = agents;
    app->nativeMenuChanged();
    QCOMPARE(popupTexts(*popup), nativeTexts(app->nativeMenu()));
    QPointer<QMenu> others = popup->actions()[3]->menu();
    QVERIFY(others);
    others->popup(QPoint(300, 0));
    QTRY_VERIFY(others->isVisible());
    app->agents[37].loaded = true;  // Job07
    app->agents[37].pid = 107;
    app->note = "Job07 loaded";
    app->nativeMenuChanged();
    QCOMPARE(popupTexts(*popup), nativeTexts(app->nativeMenu()));
    QCOMPARE(popupTexts(*popup)[1], QStringLiteral("Job07 loaded [off]"));
    QVERIFY(popup->isVisible());
    QVERIFY(others && others->isVisible());
    QCOMPARE(others->actions()[0]->text(), QStringLiteral("job08"));
    // Submenus that are no longer needed go; a second click on the icon closes the menu.
    app->agents.resize(3);
    app->nativeMenuChanged();
    QCOMPARE(popupTexts(*popup), nativeTexts(app->nativeMenu()));
    QTRY_VERIFY(!others);
    app->popUpNativeMenu(QPoint(0, 0));
    QVERIFY(!popup->isVisible());
    app->agents = agents;
    app->note.reset();

    qputenv("MORVANE_LANG", "zh");
    Language::apply(std::nullopt);
    QCOMPARE(QString::fromStdString(app->nativeMenu().children[2].label),
             QStringLiteral("已加载：job00 – job06"));
    QCOMPARE(QString::fromStdString(app->nativeMenu().children[3].label),
             QStringLiteral("未加载：Job07 – job26"));
    qputenv("MORVANE_LANG", "en");
    Language::apply(std::nullopt);
  }

  void theExportedMenuTellsThePanelWhatChangedAndChoosesAsTheSwitchDoes() {
    auto app = delegate();
    app->agents = {agent("com.example.my_job", false, std::nullopt, false),
                   agent("com.example.other", false, std::nullopt, false)};
    DBusMenu exported([&] { return app->nativeMenu(); }, {});
    std::optional<dbus::MenuLayout> layout = exported.layout(0, -1, {});
    QVERIFY(layout);
    // A panel takes "_" for a mnemonic: the label doubles it to show one.
    QCOMPARE(layoutLabels(*layout).mid(0, 4),
             (QStringList{"Launch Agents · 0 of 2 loaded", "---", "com.example.my__job",
                          "com.example.other"}));
    const int job = layout->children[2].id;
    QCOMPARE(layout->children[2].properties.value("toggle-type").toString(), "checkmark");
    QCOMPARE(layout->children[2].properties.value("toggle-state").toInt(), 0);
    QVERIFY(!layout->children[0].properties.value("enabled").toBool());
    QVERIFY(!exported.layout(9999, -1, {}));
    QCOMPARE(exported.layout(0, 0, {"label"})->children.size(), 0);
    QCOMPARE(exported.layout(job, 0, {"label"})->properties.keys(), QStringList{"label"});

    QSignalSpy properties(&exported, &DBusMenu::ItemsPropertiesUpdated);
    QSignalSpy layouts(&exported, &DBusMenu::LayoutUpdated);
    // The same items showing something else: only what changed is told.
    app->agents[0].loaded = true;
    app->agents[0].pid = 77;
    QVERIFY(exported.update());
    QCOMPARE(layouts.count(), 0);
    QCOMPARE(properties.count(), 1);
    const auto updated = properties[0][0].value<dbus::MenuItems>();
    QCOMPARE(updated.size(), 2);  // the header's count and the agent
    QCOMPARE(updated[1].id, job);
    QCOMPARE(updated[1].properties.value("toggle-state").toInt(), 1);
    QCOMPARE(updated[1].properties.value("label").toString(), "com.example.my__job · pid 77");
    QVERIFY(!exported.update());

    // An item that came: a new layout, and every item keeps its number.
    app->note = "com.example.my_job loaded";
    QVERIFY(exported.update());
    QCOMPARE(layouts.count(), 1);
    QCOMPARE(layouts[0][0].toUInt(), 2u);
    layout = exported.layout(0, -1, {});
    QCOMPARE(layoutLabels(*layout)[1], "com.example.my__job loaded");
    QCOMPARE(layout->children[3].id, job);

    // Choosing the agent unloads it through the switch's own path; informing items do nothing.
    QVERIFY(!exported.click(layout->children[0].id));
    QVERIFY(exported.click(job));
    QTRY_VERIFY(app->pending.count("com.example.my_job"));
    QCOMPARE(app->pending["com.example.my_job"], false);
    QVERIFY(exported.update());
    layout = exported.layout(0, -1, {});
    QCOMPARE(layoutLabels(*layout)[1], "⏳ Unloading com.example.my__job…");
    QVERIFY(!layout->children[3].properties.value("enabled").toBool());
    QTRY_COMPARE_WITH_TIMEOUT(app->running, int64_t(0), 15000);
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::MenuTest)
#include "menu_test.moc"
