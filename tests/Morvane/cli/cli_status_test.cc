// --status against the bundled service manager: exit statuses, signals and log tails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>

#include "agent_home.h"
#include "cli.h"
#include "property_list.h"

namespace morvane {
namespace {

using testing::kSleeper;
using testing::printed;

class Status : public testing::AgentHome {
 protected:
  testing::Printed status(const std::string& name, size_t lines = 10) {
    return printed([&](std::ostream& out) { return CLI::status(out, name, lines); });
  }
  /// Loads the agent the way a user would.
  void load(const std::string& name) {
    ASSERT_EQ(printed([&](std::ostream& out) { return CLI::setLoaded(out, name, true); }).status,
              0);
  }
  std::string out() const { return (home_ / "out.log").string(); }
  /// The report without its closing block of runs, which it checks holds `runs` (patterns).
  static std::string withoutRuns(const std::string& text, const std::vector<std::string>& runs) {
    const size_t block = text.find("Recent runs ");
    EXPECT_NE(block, std::string::npos) << text;
    if (block == std::string::npos)
      return text;
    std::string pattern = "Recent runs ";
    for (size_t i = 0; i < runs.size(); ++i)
      pattern += (i == 0 ? "" : "            ") + runs[i] + "\n";
    EXPECT_TRUE(std::regex_match(text.substr(block), std::regex(pattern))) << text.substr(block);
    return text.substr(0, block);
  }
  /// A run's start and how long it took, as the report shows them.
  static constexpr const char* kWhen = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  \d+\.\d s  )";
  std::string err() const { return (home_ / "err.log").string(); }
};

TEST_F(Status, JobThatExitedWithThreeShowsItsStatusAndItsLogs) {
  writeAgent("fails.plist", "com.example.fails",
             {"/bin/sh", "-c", "echo one; echo two; echo oops >&2; exit 3"},
             {{"StandardOutPath", out()}, {"StandardErrorPath", err()}});
  load("com.example.fails");
  waitForExit("com.example.fails", 3);

  testing::Printed shown = status("com.example.fails");
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(withoutRuns(shown.text, {std::string(kWhen) + R"(exited 3 \(at load\))"}),
            "Label       com.example.fails\n"
            "File        " +
                (agents() / "fails.plist").string() +
                "\n"
                "Loaded      yes, not running\n"
                "Last exit   3\n"
                "Disabled    no\n"
                "Schedule    at load\n"
                "Program     /bin/sh\n"
                "Arguments   /bin/sh -c 'echo one; echo two; echo oops >&2; exit 3'\n"
                "Stdout      " +
                out() +
                "\n"
                "            one\n"
                "            two\n"
                "Stderr      " +
                err() +
                "\n"
                "            oops\n");
}

TEST_F(Status, JobEndedBySigtermShowsTheSignalByName) {
  writeAgent("sleeper.plist", "com.example.sleeper", testing::kSleeper);
  writeSettings(R"({"friendlyNames":{"com.example.sleeper":"Sleeper"}})");
  load("sleeper");
  std::optional<int64_t> pid = pidOf("com.example.sleeper");
  ASSERT_TRUE(pid);
  EXPECT_NE(status("sleeper").text.find("Loaded      yes, pid " + std::to_string(*pid) +
                                        "\n"
                                        "Last exit   0\n"),
            std::string::npos);

  ASSERT_EQ(::kill(static_cast<pid_t>(*pid), SIGTERM), 0);
  waitForExit("com.example.sleeper", -SIGTERM);
  testing::Printed shown = status("com.example.sleeper");
  EXPECT_EQ(withoutRuns(shown.text, {std::string(kWhen) + R"(killed by SIGTERM \(at load\))"}),
            "Label       com.example.sleeper\n"
            "Name        Sleeper\n"
            "File        " +
                (agents() / "sleeper.plist").string() +
                "\n"
                "Loaded      yes, not running\n"
                "Last exit   -15 (SIGTERM)\n"
                "Disabled    no\n"
                "Schedule    at load\n"
                "Program     /bin/sleep\n"
                "Arguments   /bin/sleep 300\n");
}

TEST_F(Status, ChineseLabelsLineUpInTheSameColumn) {
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  writeAgent("idle.plist", "com.example.idle", testing::kSleeper,
             {{"StandardOutPath", out()}, {"StandardErrorPath", err()}});
  launchctl({"disable", "gui/" + std::to_string(::getuid()) + "/com.example.idle"});
  testing::writeFile(err(), "");
  EXPECT_EQ(status("idle").text,
            "标签        com.example.idle\n"
            "文件        " +
                (agents() / "idle.plist").string() +
                "\n"
                "加载        未加载\n"
                "上次退出    -\n"
                "停用        是\n"
                "计划        加载时运行\n"
                "程序        /bin/sleep\n"
                "参数        /bin/sleep 300\n"
                "标准输出    " +
                out() +
                "\n"
                "            （文件不存在）\n"
                "标准错误    " +
                err() +
                "\n"
                "            （空）\n");
}

TEST_F(Status, MissingEmptyAndUnreadableLogsSaySoInTheirPlace) {
  writeAgent("logs.plist", "com.example.logs", testing::kSleeper,
             {{"StandardOutPath", out()}, {"StandardErrorPath", home_.path().string()}});
  std::string text = status("com.example.logs").text;
  EXPECT_NE(text.find("Stdout      " + out() + "\n            (no such file)\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Stderr      " + home_.path().string() +
                      "\n            (cannot be read: Is a directory)\n"),
            std::string::npos)
      << text;
  testing::writeFile(out(), "");
  EXPECT_NE(status("com.example.logs").text.find("            (empty)\n"), std::string::npos);
}

TEST_F(Status, LinesOptionChangesTheTailAndZeroShowsOnlyThePaths) {
  writeAgent("logs.plist", "com.example.logs", testing::kSleeper, {{"StandardOutPath", out()}});
  std::string log;
  for (int i = 1; i <= 30; ++i)
    log += "entry " + std::to_string(i) + "\n";
  testing::writeFile(out(), log);
  EXPECT_TRUE(status("com.example.logs")
                  .text.ends_with("Stdout      " + out() +
                                  "\n            entry 21\n            entry 22\n"
                                  "            entry 23\n            entry 24\n            entry "
                                  "25\n            entry 26\n"
                                  "            entry 27\n            entry 28\n            entry "
                                  "29\n            entry 30\n"));
  EXPECT_TRUE(status("com.example.logs", 2)
                  .text.ends_with("Stdout      " + out() +
                                  "\n            entry 29\n            entry 30\n"));
  EXPECT_TRUE(status("com.example.logs", 0).text.ends_with("Stdout      " + out() + "\n"));
}

TEST_F(Status, LogLargerThanAHundredMegabytesShowsItsEnd) {
  writeAgent("big.plist", "com.example.big", testing::kSleeper, {{"StandardErrorPath", err()}});
  const std::string ending = "\nalmost done\nfinished\n";
  constexpr off_t kSize = 120LL * 1024 * 1024;
  int fd = ::open(err().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, kSize), 0);
  ASSERT_EQ(::pwrite(fd, ending.data(), ending.size(), kSize), static_cast<ssize_t>(ending.size()));
  ::close(fd);
  const std::string text = status("com.example.big", 2).text;
  EXPECT_TRUE(
      text.ends_with("Stderr      " + err() + "\n            almost done\n            finished\n"))
      << text.substr(text.size() - std::min<size_t>(text.size(), 300));
}

TEST_F(Status, UnreadablePropertyListStillShowsTheScannedState) {
  testing::writeFile(agents() / "junk.plist", "junk");
  testing::Printed shown = status("junk");
  EXPECT_EQ(shown.status, 0);
  EXPECT_TRUE(shown.text.ends_with("Program     ✗ " + (agents() / "junk.plist").string() +
                                   ": not a property list\n"))
      << shown.text;
}

TEST_F(Status, AgentTextIsEscapedAndLogLinesKeepTheirTextButNoControlSequences) {
  const std::string evil = "evil\x1b]0;pwned\x07\x1b[2J";
  const std::string log = (home_ / "new\nline.log").string();
  writeAgent("e\u202Evil.plist", evil, {"/bin/echo", "\x1b[31mred"}, {{"StandardOutPath", log}});
  writeSettings(R"({"friendlyNames":{"evil\u001b]0;pwned\u0007\u001b[2J":"na\u2066me"}})");
  testing::writeFile(log, "plain\ttabbed\n\x1b[2Jcleared\r\n\x1b]0;title\x07\u202Eevil\n");
  EXPECT_EQ(status(evil, 3).text,
            "Label       evil\\x1B]0;pwned\\x07\\x1B[2J\n"
            "Name        na\\u2066me\n"
            "File        " +
                agents().string() +
                "/e\\u202Evil.plist\n"
                "Loaded      no\n"
                "Last exit   -\n"
                "Disabled    no\n"
                "Schedule    at load\n"
                "Program     /bin/echo\n"
                "Arguments   /bin/echo '\\x1B[31mred'\n"
                "Stdout      " +
                home_.path().string() +
                "/new\\nline.log\n"
                "            plain\ttabbed\n"
                "            \\x1B[2Jcleared\n"
                "            \\x1B]0;title\\x07\\u202Eevil\n");
}

/// A calendar agent says when it runs; loaded, it says when next, in local time.
TEST_F(Status, CalendarAgentShowsItsScheduleAndNextRun) {
  testing::ScopedEnv zone("TZ", "UTC");
  tzset();
  const std::filesystem::path file = writeAgent("hourly.plist", "com.example.hourly", kSleeper);
  PlistPtr root = parsePropertyList(testing::readText(file));
  plist_dict_remove_item(root.get(), "RunAtLoad");
  plist_t entries = plist_new_array();
  for (const int minute : {15, 45}) {
    plist_t entry = plist_new_dict();
    plist_dict_set_item(entry, "Minute", plist_new_uint(minute));
    plist_array_append_item(entries, entry);
  }
  plist_t never = plist_new_dict();
  plist_dict_set_item(never, "Day", plist_new_uint(30));
  plist_dict_set_item(never, "Month", plist_new_uint(2));
  plist_array_append_item(entries, never);
  plist_dict_set_item(root.get(), "StartCalendarInterval", entries);
  testing::writeFile(file, toXmlPropertyList(root.get()));

  std::string text = status("hourly").text;
  EXPECT_NE(text.find("Schedule    3 calendar times\n"
                      "            · hourly at :15\n"
                      "            · hourly at :45\n"
                      "            · every minute, on 30 Feb\n"
                      "Next run    -\n"),
            std::string::npos)
      << text;

  load("hourly");
  const std::time_t before = std::time(nullptr);
  text = status("hourly").text;
  // The next quarter to or past the hour, whichever comes first.
  std::time_t next = before / 3600 * 3600 + 15 * 60;
  while (next <= before)
    next += 30 * 60;
  std::tm at{};
  gmtime_r(&next, &at);
  char expected[64];
  std::strftime(expected, sizeof expected, "Next run    %Y-%m-%d %H:%M (%a)\n", &at);
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  tzset();
}

TEST_F(Status, UnknownAgentFails) {
  testing::Printed shown = status("com.example.nothing");
  EXPECT_EQ(shown.text, "✗ No agent named com.example.nothing\n");
  EXPECT_EQ(shown.status, 1);
}

}  // namespace
}  // namespace morvane
