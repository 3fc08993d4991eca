// The systemd engine's own promises: units named for their labels, the login unit, both engines
// side by side, and a manager that goes away.

#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <thread>

#include "calendar.h"
#include "harness.h"
#include "printed_job.h"
#include "schedule.h"

namespace launchctl_test {
namespace {

namespace fs = std::filesystem;
using EngineChoiceTest = BuiltinLaunchctlTest;

/// The agent units' files in the runtime directory.
std::vector<std::string> agentUnitFiles(const fs::path& runtime) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(runtime / "systemd" / "user", ignored)) {
    if (entry.path().filename().string().starts_with("launchagent-")) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
}

class SystemdEngineTest : public SystemdLaunchctlTest {
 protected:
  /// Runs `systemctl --user` against this test's manager.
  Result systemctl(const std::vector<std::string>& args) const {
    std::vector<std::string> line = {"/bin/systemctl", "--user", "--no-pager", "--full"};
    line.insert(line.end(), args.begin(), args.end());
    return runProgram(line, {home_, engineEnvironment(), {}});
  }

  /// Loads a `sleep` job labelled `label` from a file of another name.
  void loadSleeper(const std::string& label, const std::string& file) const {
    const fs::path path = home_ / file;
    writeFile(path,
              xmlPlist(xmlString("Label", label) + xmlStrings("ProgramArguments", {"sleep", "30"}) +
                       xmlBool("RunAtLoad", true)));
    const Result result = run({"bootstrap", domain(), path.string()});
    ASSERT_EQ(result.status, 0) << result.err;
  }

  /// Runs Morvane, with `extra` over the engine's environment; inside the manager's namespaces
  /// when it has a journal (which is read there).
  Result morvane(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& extra = {}) const {
    std::vector<std::string> line = {MORVANE_EXECUTABLE};
    line.insert(line.end(), args.begin(), args.end());
    std::map<std::string, std::string> env = extra;
    env.merge(engineEnvironment());
    env.insert({{"MORVANE_LANG", "en"},
                {"MORVANE_HOME", (home_ / "data").string()},
                {"TMPDIR", home_.string()}});
    return runProgram(withJournal_ ? userManager_->inside(line) : line, {home_, env, {}});
  }

  /// Writes an agent into ~/Library/LaunchAgents.
  void writeAgent(const std::string& label, const std::vector<std::string>& arguments) const {
    const fs::path agents = home_ / "Library" / "LaunchAgents";
    fs::create_directories(agents);
    writeFile(agents / (label + ".plist"),
              xmlPlist(xmlString("Label", label) + xmlStrings("ProgramArguments", arguments) +
                       xmlBool("RunAtLoad", true)));
  }
};

TEST_F(SystemdEngineTest, EveryLabelBecomesAUnitThatNamesItAndHoldsItsProcess) {
  // Spaces, slashes, non-ASCII, a leading dash, and names beyond systemd's 255 characters.
  const std::vector<std::string> labels = {"com.example.plain", "with space/and slash", "-ünïcödé.",
                                           "org.example." + std::string(290, 'n'),
                                           "org.example." + std::string(300, 'n')};
  for (size_t i = 0; i < labels.size(); ++i) {
    loadSleeper(labels[i], "job" + std::to_string(i) + ".plist");
  }
  ASSERT_FALSE(HasFailure());
  for (const std::string& label : labels) {
    SCOPED_TRACE(label);
    const pid_t pid = pidOf(label);
    ASSERT_GT(pid, 0);
    const Result status = systemctl({"status", std::to_string(pid)});
    EXPECT_TRUE(status.out.find("launchagent-") < status.out.find(" - " + label + "\n"))
        << status.out;
    EXPECT_NE(readFile("/proc/" + std::to_string(pid) + "/cgroup").find("/launchagents.slice/"),
              std::string::npos);
    const Result again = run({"bootstrap", domain(), (home_ / "job0.plist").string()});
    EXPECT_EQ(again.status, 5) << "loaded once only";
  }
  EXPECT_EQ(agentUnitFiles(userManager_->runtimeDirectory()).size(), labels.size());
  for (const std::string& label : labels) {
    const pid_t pid = pidOf(label);
    EXPECT_EQ(run({"bootout", service(label)}).status, 0) << label;
    EXPECT_TRUE(pidIsGone(pid)) << label;
  }
  EXPECT_TRUE(agentUnitFiles(userManager_->runtimeDirectory()).empty());
}

TEST_F(SystemdEngineTest, TimerFiresWhenTheBuiltInEngineWould) {
  loadEntries("org.example.weekly",
              xmlStrings("ProgramArguments", {"true"}) +
                  "<key>StartCalendarInterval</key><dict><key>Minute</key><integer>7</integer>"
                  "<key>Hour</key><integer>3</integer><key>Day</key><integer>20</integer>"
                  "<key>Weekday</key><integer>5</integer></dict>\n");
  const Result shown =
      systemctl({"show", "-p", "NextElapseUSecRealtime", "launchagent-org.example.weekly.timer"});
  const std::optional<std::time_t> expected = launchctl::nextCalendarStart(
      {{.minute = 7, .hour = 3, .day = 20, .weekday = 5}}, std::time(nullptr));
  ASSERT_TRUE(expected);
  std::tm local{};
  localtime_r(&*expected, &local);
  char text[64];
  std::strftime(text, sizeof text, "%a %Y-%m-%d %H:%M:%S %Z", &local);
  EXPECT_EQ(shown.out, std::string("NextElapseUSecRealtime=") + text + "\n");
}

TEST_F(SystemdEngineTest, NextLoginLoadsEveryAgentNotDisabledOnce) {
  const fs::path agents = home_ / "Library" / "LaunchAgents";
  fs::create_directories(agents);
  for (const std::string name : {"org.example.a", "org.example.b", "org.example.c"}) {
    writeFile(agents / (name + ".plist"),
              xmlPlist(xmlString("Label", name) + xmlStrings("ProgramArguments", {"sleep", "60"}) +
                       xmlBool("RunAtLoad", true)));
  }
  writeFile(agents / "broken.plist", "not a property list");
  ASSERT_EQ(run({"disable", service("org.example.b")}).status, 0);
  ASSERT_EQ(run({"bootstrap", domain(), (agents / "org.example.c.plist").string()}).status, 0);
  ASSERT_EQ(run({"bootout", service("org.example.c")}).status, 0);
  // The first use installed and enabled the one login unit.
  const fs::path units = home_ / ".config" / "systemd" / "user";
  EXPECT_TRUE(fs::exists(units / "launchagents-login.service"));
  EXPECT_TRUE(fs::is_symlink(units / "default.target.wants" / "launchagents-login.service"));

  userManager_->restart();
  ASSERT_TRUE(eventually([&] { return pidOf("org.example.a") > 0 && pidOf("org.example.c") > 0; },
                         std::chrono::seconds(10)));
  EXPECT_FALSE(rowOf("org.example.b")) << "a disabled agent stays unloaded";
  EXPECT_EQ(listRows().size(), 2u);
  std::size_t loginUnits = 0;
  for (const auto& entry : fs::recursive_directory_iterator(units)) {
    loginUnits += entry.path().filename() == "launchagents-login.service";
  }
  EXPECT_EQ(loginUnits, 2u) << "the unit and its one enabling link";
}

TEST_F(SystemdEngineTest, HowAJobEndedIsListedEvenWhenItsFolderLostTheNote) {
  load("org.example.exit3", {"/bin/sh", "-c", "exit 3"});
  load("org.example.killed", {"/bin/sh", "-c", "kill -9 $$"});
  // Its unit name holds an escape ("\x2d"), and its folder is named otherwise.
  load("org.example.exit-5", {"/bin/sh", "-c", "exit 5"});
  const std::string forgotten = "launchagent-org.example.exit\\x2d5.service";
  const auto ended = [&] {
    const std::optional<ListRow> exited = rowOf("org.example.exit3");
    const std::optional<ListRow> killed = rowOf("org.example.killed");
    return exited && exited->status == 3 && killed && killed->status == -9;
  };
  ASSERT_TRUE(eventually(ended));
  ASSERT_TRUE(eventually([&] { return rowOf("org.example.exit-5")->status == 5; }));
  // Once the manager forgets a failure it drops the unit: only the folder's note tells.
  ASSERT_EQ(systemctl({"reset-failed", forgotten}).status, 0);
  ASSERT_TRUE(eventually([&] {
    return systemctl({"list-units", "--all", "--plain", "--no-legend", forgotten}).out.empty();
  }));
  EXPECT_EQ(rowOf("org.example.exit-5")->status, 5);
  // The manager still knows what the job folders noted.
  std::error_code ignored;
  for (const auto& folder :
       fs::directory_iterator(userManager_->runtimeDirectory() / "launchagents", ignored)) {
    fs::remove(folder.path() / "last-exit");
  }
  EXPECT_TRUE(ended());
}

TEST_F(SystemdEngineTest, ALoginUnitThatCannotBeWrittenCostsOnlyALine) {
  writeFile(home_ / ".config", "a file where a folder belongs");
  const Result list = run({"list"});
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "PID\tStatus\tLabel\n");
  EXPECT_TRUE(list.err.starts_with("launchctl: the login unit could not be installed: "))
      << list.err;
  EXPECT_EQ(std::count(list.err.begin(), list.err.end(), '\n'), 1) << list.err;
  const Result loaded = run({"bootstrap", domain(), writeJob("org.example.on", {"sleep", "30"})});
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_GT(pidOf("org.example.on"), 0);
}

TEST_F(SystemdEngineTest, TheEngineHoldingTheJobsTakesEveryRunUntilNoneIsLoaded) {
  const std::map<std::string, std::string> builtinEngine = {{"MORVANE_JOB_ENGINE", "builtin"}};
  const std::map<std::string, std::string> automatic = {{"MORVANE_JOB_ENGINE", ""}};
  const std::string early = writeJob("org.example.early", {"sleep", "30"});
  const std::string late = writeJob("org.example.late", {"sleep", "30"});
  ASSERT_EQ(run({"bootstrap", domain(), early}, builtinEngine).status, 0);
  // A manager answers, but the built-in engine holds a job: it takes the next one too.
  ASSERT_EQ(run({"bootstrap", domain(), late}, automatic).status, 0);
  EXPECT_TRUE(agentUnitFiles(userManager_->runtimeDirectory()).empty());
  const Result forced = run({"list"});
  EXPECT_EQ(forced.status, 1);
  EXPECT_EQ(forced.err,
            "launchctl: the loaded jobs run on the built-in supervisor; MORVANE_JOB_ENGINE=systemd "
            "takes effect once none of them is loaded\n");
  EXPECT_EQ(run({"bootout", service("org.example.early")}, automatic).status, 0);
  EXPECT_EQ(run({"bootout", service("org.example.late")}, automatic).status, 0);

  // None is loaded: the manager takes the next one, and keeps every run, wherever it starts.
  ASSERT_EQ(run({"bootstrap", domain(), late}, automatic).status, 0);
  EXPECT_EQ(agentUnitFiles(userManager_->runtimeDirectory()).size(), 1u);
  const pid_t pid = pidOf("org.example.late");
  ASSERT_GT(pid, 0);
  for (const std::string runtime : {"", "relative", "/nonexistent"}) {
    // As under cron, su or sudo -u: XDG_RUNTIME_DIR unset, or naming another place.
    const Result listed = run({"list"}, {{"MORVANE_JOB_ENGINE", ""}, {"XDG_RUNTIME_DIR", runtime}});
    EXPECT_EQ(listed.out, "PID\tStatus\tLabel\n" + std::to_string(pid) + "\t0\torg.example.late\n")
        << runtime << ": " << listed.err;
    EXPECT_EQ(run({"bootstrap", domain(), late},
                  {{"MORVANE_JOB_ENGINE", ""}, {"XDG_RUNTIME_DIR", runtime}})
                  .status,
              5)
        << "never a second copy";
  }
  EXPECT_EQ(
      run({"list"}, builtinEngine).err,
      "launchctl: the loaded jobs run on the systemd user manager; MORVANE_JOB_ENGINE=builtin "
      "takes effect once none of them is loaded\n");

  // A manager that does not answer fails every command in one line; nothing runs twice.
  userManager_->killManager();
  for (const std::vector<std::string>& command : {std::vector<std::string>{"list"},
                                                  {"bootstrap", domain(), early},
                                                  {"bootout", service("org.example.late")}}) {
    const Result failed = run(command, automatic);
    EXPECT_EQ(failed.status, 1) << command[0];
    EXPECT_TRUE(failed.err.starts_with(
        "launchctl: the loaded jobs run on the systemd user manager "
        "of " +
        userManager_->runtimeDirectory().string() + ", which does not answer: "))
        << failed.err;
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
  }
  // Morvane lists its agents all the same, their loaded state unknown and why.
  writeAgent("org.example.late", {"sleep", "30"});
  const Result listed = morvane({"--list"}, automatic);
  EXPECT_EQ(listed.status, 1);
  EXPECT_TRUE(listed.err.starts_with(
      "✗ Loaded state unknown: launchctl list failed: launchctl: "
      "the loaded jobs run on the systemd user manager of " +
      userManager_->runtimeDirectory().string() + ", which does not answer: "))
      << listed.err;
  EXPECT_NE(listed.out.find("org.example.late"), std::string::npos) << listed.out;
  EXPECT_TRUE(listed.out.ends_with("0 of 1 loaded\n")) << listed.out;
  fs::remove(home_ / "Library" / "LaunchAgents" / "org.example.late.plist");  // not for login
  userManager_->restart();
  // The next login starts with no job loaded on the new manager.
  EXPECT_EQ(run({"list"}, automatic).status, 0);
}

TEST_F(SystemdEngineTest, ManagerGoingAwayMidCommandLeavesNothingHalfLoaded) {
  const fs::path marker = home_ / "started";
  const std::string plist = writeJob("org.example.cut", {"touch", marker.string()});
  run({"list"});  // the login unit is in place; the bootstrap only loads
  ::kill(userManager_->managerPid(), SIGSTOP);
  Result result;
  std::thread bootstrap([&] { result = run({"bootstrap", domain(), plist}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  userManager_->killManager();
  bootstrap.join();
  EXPECT_NE(result.status, 0);
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_TRUE(result.err.starts_with("launchctl: the systemd user manager")) << result.err;
  EXPECT_TRUE(agentUnitFiles(userManager_->runtimeDirectory()).empty());
  EXPECT_FALSE(fs::exists(marker));
  // Without a manager nothing is listed, and forcing the systemd engine says why in one line.
  const Result forced = run({"list"});
  EXPECT_EQ(forced.status, 1);
  EXPECT_EQ(std::count(forced.err.begin(), forced.err.end(), '\n'), 1) << forced.err;
  EXPECT_EQ(run({"list"}, {{"MORVANE_JOB_ENGINE", ""}}).out, "PID\tStatus\tLabel\n");
  userManager_->restart();

  // Going away while bootout waits for a job to end is a failure, and the job stays loaded.
  load("org.example.hang", {"/bin/sh", "-c", "trap '' TERM; while :; do sleep 1; done"},
       "<key>ExitTimeOut</key><integer>60</integer>\n");
  Result bootout;
  std::thread stopping([&] { bootout = run({"bootout", service("org.example.hang")}); });
  std::this_thread::sleep_for(std::chrono::seconds(1));
  userManager_->killManager();
  stopping.join();
  EXPECT_EQ(bootout.status, 1);
  EXPECT_TRUE(bootout.err.starts_with("launchctl: the systemd user manager")) << bootout.err;
  const Result listed = run({"list"}, {{"MORVANE_JOB_ENGINE", ""}});
  EXPECT_EQ(listed.status, 1) << listed.out;
  EXPECT_NE(listed.err.find("which does not answer"), std::string::npos) << listed.err;
  userManager_->restart();
}

/// The program itself on the systemd engine: its self-test, a load and an unload, and the
/// journal in --status.
class ProgramOnSystemdTest : public SystemdEngineTest {
 protected:
  ProgramOnSystemdTest() { withJournal_ = true; }
};

TEST_F(ProgramOnSystemdTest, SelfTestPasses) {
  const Result result = morvane({"--selftest"});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 4) << result.out;
  EXPECT_TRUE(agentUnitFiles(userManager_->runtimeDirectory()).empty());
  EXPECT_EQ(run({"print-disabled", domain()}).out.find("selftest\" => disabled"),
            std::string::npos);
}

TEST_F(ProgramOnSystemdTest, LoadedAgentRunsInItsUnitUntilUnloaded) {
  writeAgent("com.example.sync", {"sleep", "60"});
  const Result loaded = morvane({"--load", "com.example.sync"});
  ASSERT_EQ(loaded.status, 0) << loaded.out << loaded.err;
  const pid_t pid = pidOf("com.example.sync");
  ASSERT_GT(pid, 0);
  EXPECT_NE(readFile("/proc/" + std::to_string(pid) + "/cgroup")
                .find("/launchagent-com.example.sync.service"),
            std::string::npos);
  const Result unloaded = morvane({"--unload", "com.example.sync"});
  EXPECT_EQ(unloaded.status, 0) << unloaded.out << unloaded.err;
  EXPECT_TRUE(pidIsGone(pid));
}

TEST_F(ProgramOnSystemdTest, StatusShowsTheJournalOfAnAgentWithoutLogFiles) {
  writeAgent("com.example.chatty", {"/bin/sh", "-c", "echo first; echo second; echo third"});
  ASSERT_EQ(morvane({"--load", "com.example.chatty"}).status, 0);
  const std::string journal =
      "Journal     launchagent-com.example.chatty.service\n"
      "            second\n"
      "            third\n";
  Result status;
  EXPECT_TRUE(eventually([&] {
    status = morvane({"--status", "com.example.chatty", "--lines", "2"});
    return status.out.find(journal) != std::string::npos;
  })) << status.out;
  EXPECT_EQ(status.out.find("Stdout"), std::string::npos) << "no log file is named";
  // An agent that never ran on the systemd engine has no journal to show.
  writeAgent("com.example.quiet", {"true"});
  EXPECT_EQ(morvane({"--status", "com.example.quiet"}).out.find("Journal"), std::string::npos);
}

/// "2026-12-10T09:00:00", the local time --status --json starts a moment with.
std::string isoPrefix(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

TEST_F(ProgramOnSystemdTest, NextRunIsTheTimersAndAgreesWithTheCalendar) {
  const fs::path agents = home_ / "Library" / "LaunchAgents";
  fs::create_directories(agents);
  auto entry = [](const std::string& fields) { return "<dict>" + fields + "</dict>"; };
  auto number = [](const std::string& key, int value) {
    return "<key>" + key + "</key><integer>" + std::to_string(value) + "</integer>";
  };
  std::string weekdays;
  for (int day = 1; day <= 5; ++day) {
    weekdays += entry(number("Weekday", day) + number("Hour", 9) + number("Minute", 0));
  }
  // Daily, on weekdays, monthly, hourly, on leap days, and on the 13th or any Friday.
  const std::map<std::string, std::string> calendars = {
      {"com.example.daily", entry(number("Hour", 9) + number("Minute", 0))},
      {"com.example.weekdays", "<array>" + weekdays + "</array>"},
      {"com.example.monthly", entry(number("Day", 1) + number("Hour", 3) + number("Minute", 30))},
      {"com.example.hourly", entry(number("Minute", 15))},
      {"com.example.leap",
       entry(number("Month", 2) + number("Day", 29) + number("Hour", 12) + number("Minute", 0))},
      {"com.example.friday",
       entry(number("Day", 13) + number("Weekday", 5) + number("Hour", 6) + number("Minute", 45))},
  };
  const auto write = [&](const std::string& label, const std::string& entries) {
    writeFile(
        agents / (label + ".plist"),
        xmlPlist(xmlString("Label", label) + xmlStrings("ProgramArguments", {"true"}) + entries));
  };
  const auto printedNext = [&](const std::string& label) {
    return morvane::Agents::parsePrintedNextRun(run({"print", service(label)}).out);
  };
  for (const auto& [label, calendar] : calendars) {
    write(label, "<key>StartCalendarInterval</key>" + calendar);
    ASSERT_EQ(run({"bootstrap", domain(), (agents / (label + ".plist")).string()}).status, 0);
  }
  for (const auto& [label, calendar] : calendars) {
    const morvane::Result<morvane::Schedule> schedule =
        morvane::readScheduleFile(agents / (label + ".plist"));
    ASSERT_TRUE(schedule);
    const std::time_t before = std::time(nullptr);
    const std::optional<std::time_t> timer = printedNext(label);
    const std::time_t after = std::time(nullptr);
    ASSERT_TRUE(timer) << label;
    // A minute may turn while print runs.
    EXPECT_TRUE(timer == morvane::nextRun(*schedule, before) ||
                timer == morvane::nextRun(*schedule, after))
        << label << ": the timer says " << isoPrefix(*timer);
  }

  // An interval counts from the load; print tells it though nothing could compute it.
  write("com.example.interval", "<key>StartInterval</key><integer>7200</integer>");
  const std::time_t loadedFrom = std::time(nullptr);
  ASSERT_EQ(morvane({"--load", "com.example.interval"}).status, 0);
  const std::time_t loadedBy = std::time(nullptr);
  const std::optional<std::time_t> interval = printedNext("com.example.interval");
  ASSERT_TRUE(interval);
  EXPECT_GE(*interval, loadedFrom + 7200 - 1);
  EXPECT_LE(*interval, loadedBy + 7200);
  const Result intervalStatus = morvane({"--status", "com.example.interval"});
  EXPECT_NE(intervalStatus.out.find("Schedule    every 2 h\nNext run    " +
                                    isoPrefix(*interval).substr(0, 10)),
            std::string::npos)
      << intervalStatus.out;
  EXPECT_NE(morvane({"--status", "com.example.interval", "--json"})
                .out.find("\"nextRun\": \"" + isoPrefix(*interval)),
            std::string::npos);

  // What the loaded timer does wins over a file changed since the load.
  const std::optional<std::time_t> daily = printedNext("com.example.daily");
  ASSERT_TRUE(daily);
  write("com.example.daily",
        "<key>StartCalendarInterval</key>" + entry(number("Hour", 10) + number("Minute", 30)));
  const Result json = morvane({"--status", "com.example.daily", "--json"});
  EXPECT_NE(json.out.find("\"nextRun\": \"" + isoPrefix(*daily)), std::string::npos) << json.out;
  std::string shown = isoPrefix(*daily).substr(0, 16);
  shown[10] = ' ';
  const Result status = morvane({"--status", "com.example.daily"});
  EXPECT_NE(status.out.find("Next run    " + shown + " ("), std::string::npos) << status.out;
}

TEST_F(EngineChoiceTest, ForcedOrUnknownEnginesWithoutAManagerFailInOneLine) {
  const Result forced = run({"list"}, {{"MORVANE_JOB_ENGINE", "systemd"},
                                       {"XDG_RUNTIME_DIR", (home_ / "no-runtime").string()}});
  EXPECT_EQ(forced.status, 1);
  EXPECT_EQ(forced.err,
            "launchctl: MORVANE_JOB_ENGINE=systemd, but no systemd user manager "
            "answers: " +
                (home_ / "no-runtime" / "systemd" / "private").string() + " does not exist\n");
  const Result unknown = run({"list"}, {{"MORVANE_JOB_ENGINE", "launchd"}});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err,
            "launchctl: MORVANE_JOB_ENGINE is \"launchd\"; it takes \"systemd\" or \"builtin\" "
            "(or is left unset)\n");
  // Unset, and without a manager, the built-in engine runs the jobs.
  const std::string plist = writeJob("org.example.auto", {"sleep", "30"});
  EXPECT_EQ(run({"bootstrap", domain(), plist}, {{"MORVANE_JOB_ENGINE", ""}}).status, 0);
  EXPECT_GT(pidOf("org.example.auto"), 0);
}

}  // namespace
}  // namespace launchctl_test
