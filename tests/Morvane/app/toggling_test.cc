// Toggling agents from the menu against the bundled service manager, with real processes.

#include <signal.h>

#include <QScreen>
#include <QTest>

#include "agents.h"
#include "app_test_support.h"
#include "language.h"
#include "property_list.h"
#include "schedule.h"
#include "shell.h"
#include "user_manager_sandbox.h"

namespace morvane {

using testing::rowTitled;

class TogglingTest : public QObject {
  Q_OBJECT

  std::unique_ptr<testing::AppSandbox> sandbox_;
  std::shared_ptr<testing::Warnings> warnings_;
  std::unique_ptr<AppDelegate> app_;

  static constexpr int kTimeoutMs = 20000;

  /// Starts the delegate over the sandbox, with its first scan done and its menu open.
  void openMenu(size_t agents) {
    app_ = testing::makeDelegate(warnings_);
    Language::apply(app_->settings().value().language);
    app_->refresh();
    QTRY_COMPARE_WITH_TIMEOUT(app_->agents.size(), agents, kTimeoutMs);
    app_->menu.popup(QPoint(0, 0));
    QVERIFY(app_->menuOpen);
  }

  void click(const QString& title) {
    SwitchRow* row = rowTitled(app_->menu, title);
    QVERIFY2(row, qPrintable(title));
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(30, 16));
  }

  const Agent* agent(const std::string& label) const {
    for (const Agent& agent : app_->agents)
      if (agent.label == label)
        return &agent;
    return nullptr;
  }

  /// Whether the screen shows the menu's item `index` as the menu paints it now: a rebuild of
  /// the open menu reached the screen, not only the menu's actions.
  bool shownAsBuilt(qsizetype index) {
    QMenu& menu = app_->menu;
    const QRect area = menu.actionGeometry(menu.actions().at(index));
    const QImage shown =
        menu.screen()
            ->grabWindow(menu.winId(), area.x(), area.y(), area.width(), area.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    const QImage built = menu.grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    return !shown.isNull() && shown == built;
  }

  static bool processExists(int64_t pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0; }

  /// Makes `label`'s bootstrap wait until `gate` exists, then hands over to the real manager.
  void gateBootstrap(const std::vector<std::pair<std::string, std::filesystem::path>>& gates) {
    std::string script = "#!/bin/sh\nif [ \"$1\" = bootstrap ]; then\n  case \"$3\" in\n";
    for (const auto& [label, gate] : gates)
      script += "    */" + label + ".plist) while [ ! -e '" + gate.string() +
                "' ]; do sleep 0.02; done;;\n";
    script += "  esac\nfi\nexec '" LAUNCHCTL_STANDIN "' \"$@\"\n";
    const std::filesystem::path wrapper = sandbox_->home() / "gated-launchctl";
    testing::writeTextFile(wrapper, script);
    std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
    platform::overrideToolPath(platform::Tool::launchctl, wrapper);
  }

 private slots:
  void init() {
    sandbox_ = std::make_unique<testing::AppSandbox>(LAUNCHCTL_STANDIN);
    sandbox_->writeSettings(R"({"friendlyNames": {"com.example.sleeper": "Sleeper"}})");
    warnings_ = std::make_shared<testing::Warnings>();
  }

  void cleanup() {
    app_.reset();
    testing::flushDeletes();
    for (const char* label : {"com.example.sleeper", "com.example.other", "com.example.new"})
      Shell::run(LAUNCHCTL_STANDIN, {"bootout", Agents::serviceTarget(label)}, 30);
    sandbox_.reset();
  }

  void loadAndUnloadShowProgressAndResult() {
    sandbox_->writeAgent("com.example.sleeper");
    openMenu(1);
    click("Sleeper");
    // At once: the row is frozen in the asked-for state and the progress line shows.
    QCOMPARE(app_->pending, (std::map<std::string, bool>{{"com.example.sleeper", true}}));
    QCOMPARE(app_->running, int64_t(1));
    QCOMPARE(testing::titles(app_->menu)[1], QStringLiteral("⏳ Loading Sleeper…"));
    QVERIFY(!rowTitled(app_->menu, "Sleeper")->enabled());
    QVERIFY(rowTitled(app_->menu, "Sleeper")->toggle()->isOn());

    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(0), kTimeoutMs);
    QVERIFY(!app_->busy);
    QVERIFY(app_->pending.empty());
    QCOMPARE(app_->note, std::optional<std::string>("Sleeper loaded"));
    const Agent loaded = *agent("com.example.sleeper");
    QVERIFY(loaded.loaded && loaded.pid);
    QVERIFY(processExists(*loaded.pid));
    QCOMPARE(testing::titles(app_->menu)[1], QStringLiteral("Sleeper loaded"));
    // What the screen shows: the new count, and the result instead of the progress line.
    QTRY_VERIFY(shownAsBuilt(0) && shownAsBuilt(1));
    SwitchRow* row = rowTitled(app_->menu, "Sleeper");
    QVERIFY(row->enabled());
    QVERIFY(row->toggle()->isOn());
    QCOMPARE(row->detail().value_or("(absent)"), QString("pid %1").arg(*loaded.pid));

    click("Sleeper");
    QCOMPARE(testing::titles(app_->menu)[1], QStringLiteral("⏳ Unloading Sleeper…"));
    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(0), kTimeoutMs);
    QCOMPARE(app_->note, std::optional<std::string>("Sleeper unloaded"));
    QVERIFY(!agent("com.example.sleeper")->loaded);
    QVERIFY(!processExists(*loaded.pid));
    QVERIFY(!rowTitled(app_->menu, "Sleeper")->toggle()->isOn());
    QTRY_VERIFY(shownAsBuilt(0) && shownAsBuilt(1));
    QVERIFY(warnings_->empty());
  }

  void overlappingTogglesRunInOrderAndTheLastProgressShows() {
    sandbox_->writeAgent("com.example.sleeper");
    sandbox_->writeAgent("com.example.other");
    const std::filesystem::path first = sandbox_->home() / "go-first";
    const std::filesystem::path second = sandbox_->home() / "go-second";
    gateBootstrap({{"com.example.sleeper", first}, {"com.example.other", second}});
    openMenu(2);
    click("Sleeper");
    click("com.example.other");
    QCOMPARE(app_->running, int64_t(2));
    QCOMPARE(app_->busy, std::optional<std::string>("Loading com.example.other"));
    QVERIFY(!rowTitled(app_->menu, "Sleeper")->enabled());
    QVERIFY(!rowTitled(app_->menu, "com.example.other")->enabled());

    testing::writeTextFile(first, "");
    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(1), kTimeoutMs);
    // The first is done, the second still runs: its progress stays on show.
    QVERIFY2(app_->busy == std::optional<std::string>("Loading com.example.other"),
             app_->busy.value_or("(none)").c_str());
    QCOMPARE(app_->pending, (std::map<std::string, bool>{{"com.example.other", true}}));
    QVERIFY(agent("com.example.sleeper")->loaded);
    QVERIFY(rowTitled(app_->menu, "Sleeper")->enabled());
    QCOMPARE(testing::titles(app_->menu)[1], QStringLiteral("⏳ Loading com.example.other…"));

    testing::writeTextFile(second, "");
    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(0), kTimeoutMs);
    QVERIFY(!app_->busy);
    QCOMPARE(app_->note, std::optional<std::string>("com.example.other loaded"));
    QVERIFY(agent("com.example.other")->loaded);
    QVERIFY(processExists(*agent("com.example.other")->pid));
  }

  void newAgentWindowChecksAsYouTypeThenWritesAndLoadsTheAgent() {
    using NewAgents::Field;
    sandbox_->writeAgent("com.example.sleeper");
    openMenu(1);
    testing::itemTitled(app_->menu, "New Agent…")->trigger();
    NewAgentWindow* window = app_->newAgentWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("New Agent"));
    QVERIFY(window->loadNow->isChecked());
    // Nothing typed yet: Save waits, and no field is blamed.
    QVERIFY(!window->saveButton()->isEnabled());
    QCOMPARE(window->message(Field::label), QString());

    const std::string agents = sandbox_->agentsDirectory().string();
    const std::pair<QLineEdit*, std::vector<std::pair<QString, QString>>> typed[] = {
        {window->label,
         {{"com.example.sleeper",
           QString::fromStdString(agents) + "/com.example.sleeper.plist already exists"},
          {"", "Enter a label"},
          {"com.example.new", ""}}},
        {window->program, {{"/etc/passwd", "/etc/passwd is not executable"}, {"sleep", ""}}},
        {window->arguments, {{"'300", "A quote in the arguments is not closed"}, {"300", ""}}},
        {window->log,
         {{"new.log", "Give the log file's full path"},
          {QString::fromStdString((sandbox_->home() / "new.log").string()), ""}}},
    };
    const Field fields[] = {Field::label, Field::program, Field::arguments, Field::log};
    for (size_t i = 0; i < std::size(typed); ++i) {
      for (const auto& [text, message] : typed[i].second) {
        typed[i].first->clear();
        QTest::keyClicks(typed[i].first, text);
        QCOMPARE(window->message(fields[i]), message);
      }
    }
    // Times of day: the line under them shows the next starts, or what is wrong and Save
    // waits; one kind of timed start at a time.
    ScheduleFields* schedule = window->schedule;
    schedule->runAt->setChecked(true);
    QVERIFY(schedule->preview->text().startsWith("Next runs: "));
    QCOMPARE(schedule->preview->text().count(" 09:00 ("), 3);
    schedule->time->setText("24:00");
    QCOMPARE(schedule->preview->text(),
             QStringLiteral("The time must be HH:MM, from 00:00 to 23:59"));
    QVERIFY(!window->saveButton()->isEnabled());
    schedule->time->setText("7:30");
    schedule->chosenDays->setChecked(true);
    QCOMPARE(schedule->preview->text(), QStringLiteral("Choose at least one day"));
    QVERIFY(!window->saveButton()->isEnabled());
    schedule->days[6]->setChecked(true);
    QVERIFY(schedule->preview->text().contains(" 07:30 (Sat)"));
    QVERIFY(window->saveButton()->isEnabled());
    QCOMPARE(window->agent().calendar,
             (std::vector<CalendarEntry>{{.minute = 30, .hour = 7, .weekday = 6}}));
    schedule->monthDay->setChecked(true);
    schedule->dayOfMonth->setText("32");
    QVERIFY(!window->saveButton()->isEnabled());
    window->runEvery->setChecked(true);
    QVERIFY(!schedule->runAt->isChecked());
    QVERIFY(window->agent().calendar.empty());
    window->minutes->setText("0");
    QCOMPARE(window->message(Field::interval),
             QStringLiteral("The interval must be a whole number above 0"));
    QVERIFY(!window->saveButton()->isEnabled());
    window->minutes->setText("5");
    QVERIFY(window->saveButton()->isEnabled());
    // A second "New Agent…" brings the open window forward instead of opening another.
    testing::itemTitled(app_->menu, "New Agent…")->trigger();
    QCOMPARE(app_->newAgentWindow(), window);

    QTest::mouseClick(window->saveButton(), Qt::LeftButton);
    QTRY_VERIFY(!app_->newAgentWindow());
    QCOMPARE(app_->busy, std::optional<std::string>("Creating com.example.new"));
    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(0), kTimeoutMs);
    QCOMPARE(app_->note, std::optional<std::string>("com.example.new created and loaded"));
    QVERIFY(warnings_->empty());
    const Agent* made = agent("com.example.new");
    QVERIFY(made && made->loaded && made->pid);
    PlistPtr written = parsePropertyList(testing::readTextFile(made->path));
    uint64_t interval = 0;
    plist_get_uint_val(plist_dict_get_item(written.get(), "StartInterval"), &interval);
    QCOMPARE(interval, uint64_t(300));
    QCOMPARE(dictionaryString(written.get(), "StandardErrorPath"),
             std::optional<std::string>((sandbox_->home() / "new.log").string()));

    // Its actions change its schedule in the same fields, filled in from the file; saving
    // rewrites only the schedule and reloads it.
    const int64_t firstPid = *made->pid;
    testing::itemTitled(*app_->actionsMenu(*made), "Schedule…")->trigger();
    ScheduleWindow* scheduleWindow = app_->scheduleWindow();
    QVERIFY(scheduleWindow && scheduleWindow->isVisible());
    QCOMPARE(scheduleWindow->windowTitle(), QStringLiteral("Schedule of com.example.new"));
    QVERIFY(scheduleWindow->fields->runEvery->isChecked());
    QCOMPARE(scheduleWindow->fields->minutes->text(), QStringLiteral("5"));
    QVERIFY(scheduleWindow->beyondForm->isHidden());
    scheduleWindow->fields->runAt->setChecked(true);
    scheduleWindow->fields->weekdays->setChecked(true);
    scheduleWindow->fields->time->setText("24:00");
    QVERIFY(!scheduleWindow->saveButton()->isEnabled());
    scheduleWindow->fields->time->setText("06:15");
    QTest::mouseClick(scheduleWindow->saveButton(), Qt::LeftButton);
    QTRY_VERIFY(!app_->scheduleWindow());
    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(0), kTimeoutMs);
    QCOMPARE(app_->note, std::optional<std::string>(
                             "Schedule of com.example.new set: Mon–Fri at 06:15, reloaded"));
    QVERIFY(warnings_->empty());
    made = agent("com.example.new");
    QVERIFY(made && made->loaded && made->pid && *made->pid != firstPid);
    written = parsePropertyList(testing::readTextFile(made->path));
    QCOMPARE(plist_dict_get_item(written.get(), "StartInterval"), nullptr);
    QCOMPARE(readSchedule(written.get()).calendar.size(), size_t(5));
    QCOMPARE(dictionaryString(written.get(), "StandardErrorPath"),
             std::optional<std::string>((sandbox_->home() / "new.log").string()));
  }

  void failureClosesTheMenuAndShowsTheManagersReasonAndTheDiagnosis() {
    sandbox_.reset();
    sandbox_ = std::make_unique<testing::AppSandbox>(LAUNCHCTL_STANDIN, nullptr);
    sandbox_->writeSettings(R"({"language": "en"})");
    warnings_ = std::make_shared<testing::Warnings>();
    testing::writeTextFile(sandbox_->agentsDirectory() / "broken.plist", "not a property list");
    openMenu(1);
    app_->note = "Sleeper loaded";
    click("broken");
    // The language changes while the operation runs: the title's suffix follows it.
    Language::apply("zh");
    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(0), kTimeoutMs);
    Language::apply("en");

    QCOMPARE(warnings_->size(), size_t(1));
    QCOMPARE(warnings_->front().first, std::string("Loading broken失败"));
    QCOMPARE(warnings_->front().second,
             std::string("「broken」没有加载上：Bootstrap failed: 5: Input/output error\n"
                         "Try re-running the command as root for richer errors.\n"
                         "它不是属性列表：XML 解析在第 1 行第 1 列停下（Start tag expected, '<' "
                         "not found）：请改正该处的 XML。"));
    QVERIFY(!app_->note);
    QVERIFY(app_->pending.empty());
    QVERIFY(!app_->menu.isVisible());
    QVERIFY(!app_->menuOpen);
    // Opened again, the row shows the scanned state and can be toggled again.
    app_->menu.popup(QPoint(0, 0));
    QVERIFY(rowTitled(app_->menu, "broken")->enabled());
    QVERIFY(!rowTitled(app_->menu, "broken")->toggle()->isOn());
    app_->menu.hide();
  }

  void loadAndUnloadOnTheUsersSystemdManager() {
    auto manager = testing::UserManagerSandbox::start({sandbox_->home(), false});
    if (!manager)
      QSKIP(("skipped: " + manager.error()).c_str());
    // Restores the environment however the test ends; the manager goes after it.
    struct EngineEnvironment {
      explicit EngineEnvironment(const std::filesystem::path& runtime)
          : runtime_(qgetenv("XDG_RUNTIME_DIR")), engine_(qgetenv("MORVANE_JOB_ENGINE")) {
        qputenv("XDG_RUNTIME_DIR", runtime.c_str());
        qputenv("MORVANE_JOB_ENGINE", "systemd");
      }
      ~EngineEnvironment() {
        qputenv("XDG_RUNTIME_DIR", runtime_);
        qputenv("MORVANE_JOB_ENGINE", engine_);
      }
      QByteArray runtime_;
      QByteArray engine_;
    } environment((*manager)->runtimeDirectory());
    sandbox_->writeAgent("com.example.sleeper");
    openMenu(1);
    click("Sleeper");
    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(0), kTimeoutMs);
    QCOMPARE(app_->note, std::optional<std::string>("Sleeper loaded"));
    const Agent loaded = *agent("com.example.sleeper");
    QVERIFY(loaded.loaded && loaded.pid);
    const std::string cgroup =
        testing::readTextFile("/proc/" + std::to_string(*loaded.pid) + "/cgroup");
    QVERIFY2(cgroup.find("/launchagent-com.example.sleeper.service") != std::string::npos,
             cgroup.c_str());
    click("Sleeper");
    QTRY_COMPARE_WITH_TIMEOUT(app_->running, int64_t(0), kTimeoutMs);
    QCOMPARE(app_->note, std::optional<std::string>("Sleeper unloaded"));
    QVERIFY(!agent("com.example.sleeper")->loaded);
    QVERIFY(!processExists(*loaded.pid));
    QVERIFY(warnings_->empty());
  }
};

}  // namespace morvane

QTEST_MAIN(morvane::TogglingTest)
#include "toggling_test.moc"
