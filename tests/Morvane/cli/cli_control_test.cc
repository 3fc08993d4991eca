// --load and --unload against the bundled service manager, with real job processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "agent_home.h"
#include "agents.h"
#include "cli.h"
#include "platform.h"
#include "property_list.h"
#include "schedule.h"

namespace morvane {
namespace {

using testing::printed;

bool processExists(int64_t pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

class LoadUnload : public testing::AgentHome {
 protected:
  testing::Printed change(const std::string& name, bool load) {
    return printed([&](std::ostream& out) { return CLI::setLoaded(out, name, load); });
  }
};

TEST_F(LoadUnload, ByLabelAndByFileNameWithAndWithoutSuffix) {
  writeAgent("sleeper.plist", "com.example.sleeper", testing::kSleeper);

  testing::Printed loaded = change("com.example.sleeper", true);
  EXPECT_EQ(loaded.text, "com.example.sleeper loaded\n");
  EXPECT_EQ(loaded.status, 0);
  std::optional<int64_t> pid = pidOf("com.example.sleeper");
  ASSERT_TRUE(pid);
  EXPECT_TRUE(processExists(*pid));

  testing::Printed unloaded = change("sleeper", false);
  EXPECT_EQ(unloaded.text, "com.example.sleeper unloaded\n");
  EXPECT_EQ(unloaded.status, 0);
  EXPECT_FALSE(processExists(*pid));

  EXPECT_EQ(change("sleeper.plist", true).text, "com.example.sleeper loaded\n");
  EXPECT_TRUE(pidOf("com.example.sleeper"));
}

TEST_F(LoadUnload, LabelsReadBeforeAreTrustedOnlyWhileTheirFilesAreUnchanged) {
  writeAgent("a.plist", "com.example.one", testing::kSleeper);
  writeAgent("b.plist", "com.example.two", testing::kSleeper);
  EXPECT_EQ(change("com.example.one", true).text, "com.example.one loaded\n");
  EXPECT_TRUE(std::filesystem::exists(home_ / "data/agent-labels.json"));

  // b.plist now declares the same label: the name means two agents, as a scan finds.
  writeAgent("b.plist", "com.example.one", testing::kSleeper);
  EXPECT_EQ(change("com.example.one", false).text,
            "✗ com.example.one names more than one agent: a.plist, b.plist. "
            "Give the file name to choose one\n");
  EXPECT_TRUE(pidOf("com.example.one"));
  writeAgent("b.plist", "com.example.two", testing::kSleeper);
  EXPECT_EQ(change("com.example.two", true).text, "com.example.two loaded\n");
  EXPECT_EQ(change("com.example.one", false).text, "com.example.one unloaded\n");

  // A file that goes and one that comes; a cache that is not one is read past.
  std::filesystem::remove(agents() / "a.plist");
  writeAgent("c.plist", "com.example.three", testing::kSleeper);
  EXPECT_EQ(change("com.example.one", true).text,
            "✗ No agent named com.example.one. Did you mean com.example.two?\n");
  testing::writeFile(home_ / "data/agent-labels.json", "[1, 2");
  EXPECT_EQ(change("com.example.three", true).text, "com.example.three loaded\n");
  EXPECT_EQ(change("b", false).text, "com.example.two unloaded\n");
}

TEST_F(LoadUnload, AlreadyInTheAskedStateSaysSoAndSucceeds) {
  writeAgent("com.example.sleeper.plist", "com.example.sleeper", testing::kSleeper);
  testing::Printed notLoaded = change("com.example.sleeper", false);
  EXPECT_EQ(notLoaded.text, "com.example.sleeper is not loaded\n");
  EXPECT_EQ(notLoaded.status, 0);

  ASSERT_EQ(change("com.example.sleeper", true).status, 0);
  const std::optional<int64_t> pid = pidOf("com.example.sleeper");
  testing::Printed again = change("com.example.sleeper", true);
  EXPECT_EQ(again.text, "com.example.sleeper is already loaded\n");
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(pidOf("com.example.sleeper"), pid);  // the same process: nothing was restarted
}

TEST_F(LoadUnload, DisabledAgentIsEnabledAndLoaded) {
  writeAgent("sleeper.plist", "com.example.sleeper", testing::kSleeper);
  launchctl({"disable", Agents::serviceTarget("com.example.sleeper")});
  EXPECT_EQ(change("sleeper", true).text, "com.example.sleeper loaded\n");
  std::vector<Agent> scanned = Agents::scan(agents());
  ASSERT_EQ(scanned.size(), 1u);
  EXPECT_TRUE(scanned[0].loaded);
  EXPECT_FALSE(scanned[0].disabled);
}

TEST_F(LoadUnload, FriendlyNameInBothLanguages) {
  writeAgent("sleeper.plist", "com.example.sleeper", testing::kSleeper);
  writeSettings(R"({"friendlyNames":{"com.example.sleeper":"Sleeper"}})");
  EXPECT_EQ(change("com.example.sleeper", true).text, "Sleeper loaded\n");
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  EXPECT_EQ(change("com.example.sleeper", true).text, "「Sleeper」已经是加载状态\n");
  EXPECT_EQ(change("com.example.sleeper", false).text, "「Sleeper」已卸载\n");
  EXPECT_EQ(change("com.example.sleeper", false).text, "「Sleeper」本来就没有加载\n");
  EXPECT_EQ(change("com.example.sleeper", true).text, "「Sleeper」已加载\n");
}

TEST_F(LoadUnload, UnknownNameOffersTheClosestLabels) {
  writeAgent("a.plist", "com.example.sleeper", testing::kSleeper);
  writeAgent("b.plist", "com.example.backup", testing::kSleeper);
  testing::Printed typo = change("com.example.sleepr", true);
  EXPECT_EQ(typo.text, "✗ No agent named com.example.sleepr. Did you mean com.example.sleeper?\n");
  EXPECT_EQ(typo.status, 1);
  EXPECT_EQ(change("unrelated", true).text, "✗ No agent named unrelated\n");
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  EXPECT_EQ(change("example", false).text,
            "✗ 没有名为「example」的启动项。是不是：com.example.backup、com.example.sleeper？\n");
  EXPECT_FALSE(pidOf("com.example.sleeper"));
}

TEST_F(LoadUnload, TwoFilesWithOneLabelAreRefusedUntilAFileIsNamed) {
  writeAgent("one.plist", "com.example.twin", testing::kSleeper);
  writeAgent("two.plist", "com.example.twin", testing::kSleeper);
  testing::Printed refused = change("com.example.twin", true);
  EXPECT_EQ(refused.text,
            "✗ com.example.twin names more than one agent: one.plist, two.plist. "
            "Give the file name to choose one\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_FALSE(pidOf("com.example.twin"));

  EXPECT_EQ(change("two.plist", true).text, "com.example.twin loaded\n");
  EXPECT_TRUE(pidOf("com.example.twin"));
}

TEST_F(LoadUnload, LabelsWithQuotesAndNonAsciiText) {
  const std::string label = "com.example.\"quoted\" 备份 ü";
  writeAgent("quoted.plist", label, testing::kSleeper);
  EXPECT_EQ(change(label, true).text, label + " loaded\n");
  EXPECT_TRUE(pidOf(label));
  EXPECT_EQ(change("quoted", false).text, label + " unloaded\n");
}

TEST_F(LoadUnload, TheServiceManagersWordIsFollowedByTheDiagnosis) {
  testing::writeFile(agents() / "broken.plist", "not a property list");
  testing::Printed failed = change("broken", true);
  EXPECT_EQ(failed.text,
            "✗ broken did not load: Bootstrap failed: 5: Input/output error\n"
            "Try re-running the command as root for richer errors.\n"
            "  ✗ It is not a property list: the XML parser stopped at line 1, column 1 (Start tag "
            "expected, '<' not found): correct the XML there.\n");
  EXPECT_EQ(failed.status, 1);

  // Taken by the service manager, failing when it runs: what was done, then why it will fail.
  const std::string gone = (home_ / "gone").string();
  writeAgent("gone.plist", "com.example.gone", {gone},
             {{"StandardErrorPath", (home_ / "logs/err.log").string()}});
  testing::Printed loaded = change("com.example.gone", true);
  EXPECT_EQ(loaded.text, "com.example.gone loaded, but its program " + gone +
                             " does not exist: it will fail when it starts\n"
                             "  ✗ The folder of its log " +
                             (home_ / "logs/err.log").string() + " does not exist: create " +
                             (home_ / "logs").string() + ".\n");
  EXPECT_EQ(loaded.status, 0);
  EXPECT_TRUE(Agents::parseList(launchctl({"list"}).standardOutput).contains("com.example.gone"));

  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  ASSERT_EQ(change("com.example.gone", false).status, 0);
  EXPECT_TRUE(change("com.example.gone", true)
                  .text.starts_with("「com.example.gone」已加载，但它的程序 " + gone +
                                    " 不存在：启动时会失败\n"));
}

/// `--new` against the bundled service manager.
class NewAgentMode : public testing::AgentHome {
 protected:
  struct Outcome {
    int32_t status;
    std::string out;
    std::string err;
  };
  Outcome create(const NewAgentRequest& request) {
    std::ostringstream out, err;
    const int32_t status = CLI::newAgent(out, err, request);
    return {status, out.str(), err.str()};
  }
  /// The names in the agents' folder, sorted.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(agents()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(NewAgentMode, WritesALoadableAgentLoadsItAndRunsIt) {
  const std::string log = (home_ / "echo.log").string();
  Outcome made =
      create({"com.example.echo", true, false, {}, log, {"echo", "hello there", "$HOME"}});
  const std::filesystem::path plist = agents() / "com.example.echo.plist";
  EXPECT_EQ(made.out, plist.string() + "\ncom.example.echo loaded\n");
  EXPECT_EQ(made.err, "");
  EXPECT_EQ(made.status, 0);
  struct stat info {};
  ASSERT_EQ(::stat(plist.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);

  // The service manager ran it: the program was found on PATH and took its arguments unexpanded.
  for (int i = 0; i < 100 && testing::readText(log).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(testing::readText(log), "hello there $HOME\n");
  PlistPtr written = parsePropertyList(testing::readText(plist));
  ASSERT_TRUE(written);
  EXPECT_EQ(dictionaryString(written.get(), "StandardOutPath"), log);
  EXPECT_EQ(dictionaryString(written.get(), "StandardErrorPath"), log);
  EXPECT_EQ(plist_dict_get_item(written.get(), "KeepAlive"), nullptr);

  Outcome ticking =
      create({"com.example.tick", false, true, {"600"}, std::nullopt, {"/bin/sleep", "300"}});
  EXPECT_EQ(ticking.status, 0) << ticking.err;
  PlistPtr tick = parsePropertyList(testing::readText(agents() / "com.example.tick.plist"));
  uint64_t seconds = 0;
  plist_get_uint_val(plist_dict_get_item(tick.get(), "StartInterval"), &seconds);
  EXPECT_EQ(seconds, 600u);
  EXPECT_EQ(plist_dict_get_item(tick.get(), "RunAtLoad"), nullptr);
  EXPECT_NE(plist_dict_get_item(tick.get(), "KeepAlive"), nullptr);

  // Calendar times: one entry as a dictionary, several as an array; the service manager takes
  // both.
  const std::pair<ScheduleOptions, Schedule> timed[] = {
      {{.at = "9:05"}, {std::nullopt, {{.minute = 5, .hour = 9}}, false, false}},
      {{.at = "18:30", .on = "sat,SUN"},
       {std::nullopt,
        {{.minute = 30, .hour = 18, .weekday = 0}, {.minute = 30, .hour = 18, .weekday = 6}},
        false,
        false}},
      {{.at = "00:00", .day = "31"},
       {std::nullopt, {{.minute = 0, .hour = 0, .day = 31}}, false, false}},
  };
  int count = 0;
  for (const auto& [options, schedule] : timed) {
    const std::string label = "com.example.timed" + std::to_string(++count);
    Outcome timedMade = create({label, false, false, options, {}, {"/bin/sleep", "300"}});
    EXPECT_EQ(timedMade.status, 0) << timedMade.err;
    EXPECT_EQ(timedMade.out, (agents() / (label + ".plist")).string() + "\n" + label + " loaded\n");
    PlistPtr timedFile = parsePropertyList(testing::readText(agents() / (label + ".plist")));
    EXPECT_EQ(readSchedule(timedFile.get()), schedule) << label;
    EXPECT_EQ(plist_get_node_type(plist_dict_get_item(timedFile.get(), "StartCalendarInterval")),
              schedule.calendar.size() == 1 ? PLIST_DICT : PLIST_ARRAY);
    EXPECT_TRUE(Agents::parseList(launchctl({"list"}).standardOutput).contains(label));
  }
  EXPECT_EQ(files(),
            (std::vector<std::string>{"com.example.echo.plist", "com.example.tick.plist",
                                      "com.example.timed1.plist", "com.example.timed2.plist",
                                      "com.example.timed3.plist"}));

  // Three launchctl runs: whether the label is loaded, the bootstrap, and its confirmation; a
  // label left disabled is found out when the bootstrap is refused, and enabled.
  const std::filesystem::path calls = home_ / "calls";
  testing::writeScript(home_ / "counting-launchctl", "echo \"$1\" >> '" + calls.string() +
                                                         "'; exec '" LAUNCHCTL_STANDIN "' \"$@\"");
  platform::overrideToolPath(platform::Tool::launchctl, home_ / "counting-launchctl");
  EXPECT_EQ(create({"com.example.third", false, false, {}, {}, {"/bin/sleep", "300"}}).status, 0);
  EXPECT_EQ(testing::readText(calls), "list\nbootstrap\nlist\n");
  std::filesystem::remove(calls);
  ASSERT_TRUE(launchctl({"disable", Agents::serviceTarget("com.example.off")}).ok());
  Outcome enabled = create({"com.example.off", true, false, {}, {}, {"/bin/sleep", "300"}});
  EXPECT_EQ(enabled.out,
            (agents() / "com.example.off.plist").string() + "\ncom.example.off loaded\n");
  EXPECT_EQ(testing::readText(calls), "list\nbootstrap\nprint-disabled\nenable\nbootstrap\nlist\n");
  EXPECT_TRUE(pidOf("com.example.off"));
  platform::overrideToolPath(platform::Tool::launchctl, LAUNCHCTL_STANDIN);
}

TEST_F(NewAgentMode, RefusesWithOneLineOnStandardErrorAndWritesNothing) {
  writeAgent("other.plist", "com.example.taken", testing::kSleeper);
  writeAgent("com.example.file.plist", "com.example.elsewhere-label", testing::kSleeper);
  // Loaded from outside the folder.
  testing::writeFile(
      home_ / "outside.plist",
      testing::readText(writeAgent("x.plist", "com.example.outside", testing::kSleeper)));
  std::filesystem::remove(agents() / "x.plist");
  ASSERT_TRUE(
      launchctl({"bootstrap", Agents::guiDomain(), (home_ / "outside.plist").string()}).ok());
  testing::writeFile(home_ / "plain.txt", "not a program");
  const std::vector<std::string> before = files();

  const std::string agentsDir = agents().string();
  const std::pair<NewAgentRequest, std::string> refused[] = {
      {{"com.example.taken", false, false, {}, {}, {"/bin/true"}},
       "com.example.taken is already used by other.plist"},
      {{"com.example.file", false, false, {}, {}, {"/bin/true"}},
       agentsDir + "/com.example.file.plist already exists"},
      {{"com.example.outside", false, false, {}, {}, {"/bin/true"}},
       "com.example.outside is already loaded in launchd"},
      {{"com.example.new", false, false, {}, {}, {"/nonexistent/tool"}},
       "No such program: /nonexistent/tool"},
      {{"com.example.new", false, false, {}, {}, {"no-such-tool-anywhere"}},
       "No such program: no-such-tool-anywhere"},
      {{"com.example.new", false, false, {}, {}, {(home_ / "plain.txt").string()}},
       (home_ / "plain.txt").string() + " is not executable"},
      {{"com.example.new", false, false, {}, {}, {"/tmp"}}, "/tmp is not executable"},
      {{"a/b", false, false, {}, {}, {"/bin/true"}},
       "A label cannot contain “/” or control characters"},
      {{"com.example.new", false, false, {}, "/nonexistent/dir/x.log", {"/bin/true"}},
       "No such folder: /nonexistent/dir"},
  };
  for (const auto& [request, line] : refused) {
    Outcome outcome = create(request);
    EXPECT_EQ(outcome.err, "✗ " + line + "\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.status, 1);
  }
  for (const char* interval : {"0", "-5", "1.5", "ten", "", "99999999999"}) {
    Outcome outcome = create({"com.example.new", false, false, {interval}, {}, {"/bin/true"}});
    EXPECT_EQ(outcome.err, "✗ The interval must be a whole number above 0\n") << interval;
    EXPECT_EQ(outcome.status, 1);
  }
  const std::pair<ScheduleOptions, std::string> schedules[] = {
      {{.at = "24:00"}, "The time must be HH:MM, from 00:00 to 23:59"},
      {{.at = ""}, "The time must be HH:MM, from 00:00 to 23:59"},
      {{.at = "09:00", .on = "mon,\x1b[2J"},
       "Unknown day “\\x1B[2J”: use mon, tue, wed, thu, fri, sat, sun, weekdays or daily"},
      {{.at = "09:00", .day = "32"}, "The day of the month must be a whole number from 1 to 31"},
      {{.every = "60", .at = "09:00"}, "--at cannot be combined with --every"},
      {{.at = "09:00", .on = "mon", .day = "1"}, "--on cannot be combined with --day"},
      {{.on = "mon"}, "--on needs --at"},
      {{.day = "1"}, "--day needs --at"},
  };
  for (const auto& [options, line] : schedules) {
    Outcome outcome = create({"com.example.new", false, false, options, {}, {"/bin/true"}});
    EXPECT_EQ(outcome.err, "✗ " + line + "\n");
    EXPECT_EQ(outcome.status, 1);
  }
  // A service manager that cannot say what is loaded: whether the label is taken is unknown.
  testing::writeScript(home_ / "broken-launchctl", "echo 'no service manager' >&2; exit 1");
  platform::overrideToolPath(platform::Tool::launchctl, home_ / "broken-launchctl");
  Outcome unknown = create({"com.example.new", false, false, {}, {}, {"/bin/true"}});
  EXPECT_TRUE(unknown.err.starts_with("✗ Loaded state unknown: ")) << unknown.err;
  EXPECT_EQ(unknown.status, 1);
  platform::overrideToolPath(platform::Tool::launchctl, LAUNCHCTL_STANDIN);

  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  EXPECT_EQ(create({"com.example.taken", false, false, {}, {}, {"/bin/true"}}).err,
            "✗ 「com.example.taken」已被 other.plist 使用\n");
  EXPECT_EQ(create({"com.example.new", false, false, {.at = "9:99"}, {}, {"/bin/true"}}).err,
            "✗ 时间须为 HH:MM，从 00:00 到 23:59\n");
  EXPECT_EQ(create({"com.example.new", false, false, {.every = "5", .at = "9:00"}, {}, {"x"}}).err,
            "✗ --at 不能与 --every 同用\n");
  EXPECT_EQ(files(), before);
}

TEST_F(NewAgentMode, ScheduleRewritesOnlyTheScheduleAndReloadsALoadedAgent) {
  auto schedule = [](const std::string& name, const ScheduleOptions& options) {
    std::ostringstream out, err;
    const int32_t status = CLI::setSchedule(out, err, name, options);
    return Outcome{status, out.str(), err.str()};
  };
  const std::filesystem::path loaded =
      writeAgent("loaded.plist", "com.example.loaded", testing::kSleeper, {{"Note", "kept"}});
  const std::filesystem::path idle = writeAgent("idle.plist", "com.example.idle", {"/bin/true"});
  ASSERT_TRUE(launchctl({"bootstrap", Agents::guiDomain(), loaded.string()}).ok());
  std::optional<int64_t> before;
  for (int i = 0; i < 100 && !(before = pidOf("com.example.loaded")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(before);

  // A loaded agent is booted out and in again, each step confirmed by the list.
  const std::filesystem::path calls = home_ / "calls";
  testing::writeScript(home_ / "counting-launchctl", "echo \"$1\" >> '" + calls.string() +
                                                         "'; exec '" LAUNCHCTL_STANDIN "' \"$@\"");
  platform::overrideToolPath(platform::Tool::launchctl, home_ / "counting-launchctl");
  Outcome weekdays = schedule("loaded", {.at = "07:45", .on = "weekdays"});
  EXPECT_EQ(weekdays.out, "Schedule of com.example.loaded set: Mon–Fri at 07:45, reloaded\n");
  EXPECT_EQ(weekdays.err, "");
  EXPECT_EQ(weekdays.status, 0);
  EXPECT_EQ(testing::readText(calls), "list\nlist\nbootout\nlist\nbootstrap\nlist\n");
  platform::overrideToolPath(platform::Tool::launchctl, LAUNCHCTL_STANDIN);
  std::optional<int64_t> after;
  for (int i = 0; i < 100 && !(after = pidOf("com.example.loaded")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(after && after != before) << "the job was started again";
  PlistPtr written = parsePropertyList(testing::readText(loaded));
  EXPECT_EQ(dictionaryString(written.get(), "Note"), "kept");
  EXPECT_EQ(readSchedule(written.get()).calendar.size(), 5u);
  EXPECT_TRUE(readSchedule(written.get()).runAtLoad);

  // One not loaded is only written; --none takes the schedule keys away.
  EXPECT_EQ(schedule("com.example.idle", {.every = "300"}).out,
            "Schedule of com.example.idle set: every 5 min\n");
  EXPECT_FALSE(pidOf("com.example.idle") ||
               Agents::parseList(launchctl({"list"}).standardOutput).contains("com.example.idle"));
  EXPECT_EQ(readSchedule(parsePropertyList(testing::readText(idle)).get()).startInterval, 300);
  EXPECT_EQ(schedule("idle.plist", {.none = true}).out, "Schedule of com.example.idle removed\n");
  EXPECT_EQ(readSchedule(parsePropertyList(testing::readText(idle)).get()),
            (Schedule{std::nullopt, {}, true, false}));

  // Refusals change nothing.
  const std::string unchanged = testing::readText(idle);
  const std::pair<std::pair<std::string, ScheduleOptions>, std::string> refused[] = {
      {{"com.example.missing", {.none = true}}, "No agent named com.example.missing"},
      {{"idle", {}}, "--schedule needs --at, --every or --none"},
      {{"idle", {.every = "60", .none = true}},
       "--none cannot be combined with --at, --on, --day or --every"},
      {{"idle", {.every = "0"}}, "The interval must be a whole number above 0"},
  };
  for (const auto& [call, line] : refused) {
    Outcome outcome = schedule(call.first, call.second);
    EXPECT_TRUE(outcome.err.starts_with("✗ " + line)) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.status, 1);
  }
  EXPECT_EQ(testing::readText(idle), unchanged);

  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  EXPECT_EQ(schedule("idle", {.at = "6:00", .day = "1"}).out,
            "「com.example.idle」的计划已设为：每月 1 日 06:00\n");
  EXPECT_EQ(schedule("idle", {.none = true}).out, "「com.example.idle」的计划已取消\n");
}

/// The same commands against a launchctl that only logs what it is asked.
class LoadUnloadCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::overrideToolPath(platform::Tool::launchctl,
                               testing::writeCannedLaunchctl(home_.path()));
    testing::writeFile(home_ / "Library/LaunchAgents/on.plist", testing::plistWithLabel("on"));
    testing::writeFile(home_ / "Library/LaunchAgents/off.plist", testing::plistWithLabel("off"));
    testing::writeFile(home_ / "list", "PID\tStatus\tLabel\n12\t0\ton\n");
  }
  void TearDown() override { platform::resetToolPaths(); }

  /// The subcommands launchctl was run with, sorted: a scan runs its two queries side by side.
  std::vector<std::string> calls() const {
    std::vector<std::string> lines;
    std::istringstream text(testing::readText(home_ / "calls"));
    for (std::string line; std::getline(text, line);)
      lines.push_back(line.substr(0, line.find(' ')));
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  testing::TempDir home_;
  testing::ScopedEnv homeVariable_{"HOME", home_.path().string()};
  testing::ScopedEnv dataVariable_{"MORVANE_HOME", (home_ / "data").string()};
  testing::ScopedEnv language_{"MORVANE_LANG", "en"};
};

TEST_F(LoadUnloadCommands, OnlyTheRunsTheChangeNeedsAndTheStateIsAskedOnlyWhenRefused) {
  auto change = [](const std::string& name, bool load) {
    return printed([&](std::ostream& out) { return CLI::setLoaded(out, name, load); }).text;
  };
  // A change: the disabled labels, bootstrap and the confirming list; bootout and the list.
  testing::writeFile(home_ / "list", "PID\tStatus\tLabel\n12\t0\ton\n13\t0\toff\n");
  EXPECT_TRUE(change("off", true).starts_with("off loaded, but it has no Program"));
  EXPECT_EQ(calls(), (std::vector<std::string>{"bootstrap", "list", "print-disabled"}));
  std::filesystem::remove(home_ / "calls");
  testing::writeFile(home_ / "list", "PID\tStatus\tLabel\n");
  EXPECT_EQ(change("on", false), "on unloaded\n");
  EXPECT_EQ(calls(), (std::vector<std::string>{"bootout", "list"}));

  // Refused: the list tells an agent already so from a failure, and nothing more runs.
  std::filesystem::remove(home_ / "calls");
  testing::writeFile(home_ / "refuse", "");
  testing::writeFile(home_ / "list", "PID\tStatus\tLabel\n12\t0\ton\n");
  EXPECT_EQ(change("on", true), "on is already loaded\n");
  EXPECT_EQ(change("off", false), "off is not loaded\n");
  EXPECT_EQ(calls(),
            (std::vector<std::string>{"bootout", "bootstrap", "list", "list", "print-disabled"}));

  // A disabled label is enabled only when the list shows the agent not loaded.
  std::filesystem::remove(home_ / "calls");
  testing::writeFile(home_ / "disabled", "\t\t\"on\" => disabled\n");
  EXPECT_EQ(change("on", true), "on is already loaded\n");
  EXPECT_EQ(calls(), (std::vector<std::string>{"list", "print-disabled"}));
}

TEST_F(LoadUnloadCommands, UnknownAndAmbiguousNamesChangeNothing) {
  testing::writeFile(home_ / "Library/LaunchAgents/on-again.plist", testing::plistWithLabel("on"));
  std::ostringstream out;
  EXPECT_EQ(CLI::setLoaded(out, "on", false), 1);
  EXPECT_EQ(CLI::setLoaded(out, "nothing", true), 1);
  // Again with the labels remembered: the second file still makes "on" ambiguous.
  EXPECT_EQ(CLI::setLoaded(out, "on", false), 1);
  // Each asks only the list, whose failure would be said first.
  EXPECT_EQ(calls(), (std::vector<std::string>{"list", "list", "list"}));
}

TEST_F(LoadUnloadCommands, AListThatFailsIsReportedByEveryModeAndNothingIsChanged) {
  std::filesystem::remove(home_ / "list");  // the canned `list` now fails as cat does
  const std::string why =
      "✗ Loaded state unknown: launchctl list failed: cat: " + (home_ / "list").string() +
      ": No such file or directory\n";
  // The listings still print what they know, in their usual form.
  testing::Printed table =
      printed([](std::ostream& out, std::ostream& err) { return CLI::list(out, err); });
  EXPECT_EQ(table.status, 1);
  EXPECT_EQ(table.errors, why);
  EXPECT_TRUE(table.text.ends_with("\n○ -          off\n○ -          on\n0 of 2 loaded\n"))
      << table.text;
  testing::Printed array =
      printed([](std::ostream& out, std::ostream& err) { return CLI::listJson(out, err); });
  EXPECT_EQ(array.status, 1);
  EXPECT_EQ(array.errors, why);
  EXPECT_EQ(std::count(array.text.begin(), array.text.end(), '\n'), 4) << array.text;
  // The modes about one agent say nothing they cannot know; a refused change changed nothing.
  testing::writeFile(home_ / "refuse", "");
  const std::vector<std::function<int32_t(std::ostream&, std::ostream&)>> modes = {
      [](auto& out, auto& err) { return CLI::setLoaded(out, "on", false, err); },
      [](auto& out, auto& err) { return CLI::setLoaded(out, "off", true, err); },
      [](auto& out, auto& err) { return CLI::status(out, "on", 10, err); },
      [](auto& out, auto& err) { return CLI::statusJson(out, "on", err); },
  };
  for (const auto& mode : modes) {
    testing::Printed shown = printed(mode);
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(shown.text, "");
    EXPECT_EQ(shown.errors, why);
  }
  const std::vector<std::string> made = calls();
  EXPECT_EQ(std::count(made.begin(), made.end(), "list"), 6);
  EXPECT_EQ(std::count(made.begin(), made.end(), "print-disabled"), 5);  // not for the unload
  EXPECT_EQ(std::count(made.begin(), made.end(), "bootout"), 1);
  EXPECT_EQ(std::count(made.begin(), made.end(), "bootstrap"), 1);
  EXPECT_EQ(made.size(), 13u);
  // A change launchctl made is never called done while no list confirms it.
  std::filesystem::remove(home_ / "refuse");
  const std::string unconfirmed =
      "launchctl list failed: cat: " + (home_ / "list").string() + ": No such file or directory\n";
  testing::Printed unload = printed(modes[0]);
  EXPECT_EQ(unload.status, 1);
  EXPECT_EQ(unload.text, "✗ on did not unload: " + unconfirmed);
  testing::Printed load = printed(modes[1]);
  EXPECT_EQ(load.status, 1);
  EXPECT_TRUE(load.text.starts_with("✗ off did not load: " + unconfirmed)) << load.text;
}

TEST_F(LoadUnloadCommands, AgentTextReachesTheTerminalEscaped) {
  const std::string evil = "evil\x1b]0;pwned\x07\x1b[2J";
  const std::string shown = "evil\\x1B]0;pwned\\x07\\x1B[2J";
  testing::writeFile(home_ / "Library/LaunchAgents/evil.plist", testing::plistWithLabel(evil));
  testing::writeFile(home_ / "Library/LaunchAgents/a\nb.plist", testing::plistWithLabel("twin"));
  testing::writeFile(home_ / "Library/LaunchAgents/c\u202E.plist", testing::plistWithLabel("twin"));
  testing::writeFile(home_ / "list", "PID\tStatus\tLabel\n12\t0\ton\n13\t0\t" + evil + "\n");
  testing::writeFile(home_ / "data/settings.json",
                     R"({"friendlyNames":{"off":"\u2067gpj.exe\u2069 \u001b[8m"}})");
  testing::writeFile(home_ / "refuse", "");  // as launchctl refuses a change already made
  auto change = [](const std::string& name, bool load) {
    return printed([&](std::ostream& out) { return CLI::setLoaded(out, name, load); }).text;
  };
  EXPECT_EQ(change("evil", true), shown + " is already loaded\n");
  EXPECT_EQ(change("off", false), "\\u2067gpj.exe\\u2069 \\x1B[8m is not loaded\n");
  EXPECT_EQ(change("pwned", true), "✗ No agent named pwned. Did you mean " + shown + "?\n");
  EXPECT_EQ(change("\x1b[1mnothing", true), "✗ No agent named \\x1B[1mnothing\n");
  EXPECT_EQ(change("twin", true),
            "✗ twin names more than one agent: a\\nb.plist, c\\u202E.plist. Give the file name to "
            "choose one\n");
}

}  // namespace
}  // namespace morvane
