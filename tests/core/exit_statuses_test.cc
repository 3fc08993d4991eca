#include <gtest/gtest.h>

#include <algorithm>

#include "agents.h"
#include "failed_exits.h"
#include "failure_notices.h"
#include "language.h"
#include "platform.h"
#include "printed_job.h"
#include "run_history.h"
#include "run_text.h"
#include "signal_names.h"
#include "test_support.h"

namespace morvane {
namespace {

using Agents::ExitStatuses;

TEST(ParseExitStatuses, ReadsTheStatusColumnOfEachRow) {
  ExitStatuses statuses = Agents::parseExitStatuses(
      "PID\tStatus\tLabel\n"
      "812\t0\tcom.example.running\n"
      "-\t3\tcom.example.failed\r\n"
      "-\t-15\tcom.example.killed\n"
      "-\t-\tcom.example.unknown\n"
      "-\t+2\tcom.example.plus\n"
      "-\t 1\tcom.example.spaced\n"
      "only\tone tab\n"
      "9\t1\tlabel\twith tab\n");
  EXPECT_EQ(statuses, (ExitStatuses{{"com.example.running", 0},
                                    {"com.example.failed", 3},
                                    {"com.example.killed", -15},
                                    {"com.example.unknown", std::nullopt},
                                    {"com.example.plus", 2},
                                    {"com.example.spaced", std::nullopt},
                                    {"label\twith tab", 1}}));
}

TEST(ScanWithExitStatuses, GivesTheScanAndTheStatusesOfTheSameListing) {
  testing::TempDir dir;
  platform::overrideToolPath(platform::Tool::launchctl, testing::writeCannedLaunchctl(dir.path()));
  testing::writeFile(dir / "list", "PID\tStatus\tLabel\n-\t-9\tcom.b\n44\t0\tcom.a\n");
  testing::writeFile(dir / "agents/a.plist", testing::plistWithLabel("com.a"));
  testing::writeFile(dir / "agents/b.plist", testing::plistWithLabel("com.b"));

  Agents::ScannedAgents scanned = Agents::scanWithExitStatuses(dir / "agents");
  EXPECT_EQ(scanned.agents, Agents::scan(dir / "agents"));
  EXPECT_EQ(scanned.lastExitStatuses, (ExitStatuses{{"com.a", 0}, {"com.b", -9}}));
  // One listing serves both: scanWithExitStatuses ran `list` once, scan once more.
  // The two queries of a scan run side by side, so only their count is fixed.
  const std::string calls = testing::readText(dir / "calls");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 4);
  size_t lists = 0;
  for (size_t at = calls.find("list\n"); at != std::string::npos; at = calls.find("list\n", at + 1))
    lists += at == 0 || calls[at - 1] == '\n' ? 1 : 0;
  EXPECT_EQ(lists, 2u);
  platform::resetToolPaths();
}

/// A property list whose error log is `errorLog`.
std::string plistWithErrorLog(const std::string& label, const std::string& errorLog) {
  return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" + label +
         "</string><key>StandardErrorPath</key><string>" + errorLog + "</string></dict></plist>";
}

TEST(FailedExits, OnlyLoadedStoppedAgentsWithABadStatusWithTheirLastErrorLine) {
  testing::TempDir dir;
  platform::overrideToolPath(platform::Tool::launchctl, testing::writeCannedLaunchctl(dir.path()));
  testing::writeFile(dir / "list",
                     "PID\tStatus\tLabel\n-\t3\tcom.failed\n-\t-9\tcom.killed\n"
                     "12\t1\tcom.running\n-\t0\tcom.clean\n-\t-\tcom.unknown\n"
                     "-\t2\tcom.blank\n-\t4\tcom.nolog\n-\t5\tcom.missing\n");
  testing::writeFile(dir / "failed.log", "starting\nError: no config\r\n");
  testing::writeFile(dir / "blank.log", "error\n   \n");
  for (const std::string label : {"com.running", "com.clean", "com.unknown", "com.nolog"})
    testing::writeFile(dir / ("agents/" + label + ".plist"), testing::plistWithLabel(label));
  testing::writeFile(dir / "agents/failed.plist",
                     plistWithErrorLog("com.failed", (dir / "failed.log").string()));
  // The same label twice: reported once.
  testing::writeFile(dir / "agents/failed-again.plist",
                     plistWithErrorLog("com.failed", (dir / "failed.log").string()));
  testing::writeFile(dir / "agents/killed.plist",
                     plistWithErrorLog("com.killed", (dir / "failed.log").string()));
  testing::writeFile(dir / "agents/blank.plist",
                     plistWithErrorLog("com.blank", (dir / "blank.log").string()));
  testing::writeFile(dir / "agents/missing.plist",
                     plistWithErrorLog("com.missing", (dir / "gone.log").string()));
  testing::writeFile(dir / "agents/unloaded.plist", testing::plistWithLabel("com.unloaded"));

  const FailedExits failed = failedExits(Agents::scanWithExitStatuses(dir / "agents"));
  EXPECT_EQ(failed, (FailedExits{{"com.failed", {3, "Error: no config"}},
                                 {"com.killed", {-9, "Error: no config"}},
                                 {"com.blank", {2, std::nullopt}},
                                 {"com.nolog", {4, std::nullopt}},
                                 {"com.missing", {5, std::nullopt}}}));
  platform::resetToolPaths();
}

TEST(SignalName, NamesThisSystemsSignalsAndNothingElse) {
  EXPECT_EQ(signalName(SIGTERM), "SIGTERM");
  EXPECT_EQ(signalName(SIGKILL), "SIGKILL");
  EXPECT_EQ(signalName(SIGSEGV), "SIGSEGV");
  EXPECT_EQ(signalName(0), std::nullopt);
  EXPECT_EQ(signalName(-15), std::nullopt);
  EXPECT_EQ(signalName(1000), std::nullopt);
  EXPECT_EQ(signalNumber("TERM"), SIGTERM);
  EXPECT_EQ(signalNumber("SIGKILL"), SIGKILL);
  EXPECT_EQ(signalNumber("term"), std::nullopt);
  EXPECT_EQ(signalNumber("SIG"), std::nullopt);
  EXPECT_EQ(signalNumber(""), std::nullopt);
}

TEST(RunRecord, LinesReadBackAndTheManagersOwnFormsAreRead) {
  const std::vector<morvane::Run> runs = {
      {1765292000'120000, 1765292001'456789, 3, RunCause::load},
      {1765292005'000001, 1765292005'500000, -SIGTERM, RunCause::keepAlive},
      {std::nullopt, 1765292009'000000, -SIGKILL, RunCause::unknown, true},
      {1765292010'000000, std::nullopt, std::nullopt, RunCause::calendar},
  };
  for (const morvane::Run& run : runs)
    EXPECT_EQ(parseRunLine(runLine(run)), run) << runLine(run);
  EXPECT_EQ(runLine(runs[1]), "1765292005.000001 1765292005.500000 killed TERM keepalive");
  EXPECT_EQ(runLine(runs[2]), "- 1765292009.000000 killed KILL - unloaded");

  // What the systemd hooks write: nine decimals, a signal by name, "dumped" for a core dump.
  EXPECT_EQ(parseRunLine("1765292000.123456789 1765292000.999999999 dumped SEGV interval"),
            (morvane::Run{1765292000'123456, 1765292000'999999, -SIGSEGV, RunCause::interval}));
  EXPECT_EQ(parseRunLine("1765292000 1765292001 exited 203 -"),
            (morvane::Run{1765292000'000000, 1765292001'000000, 203, RunCause::unknown}));
  // An end without a status or the other way round, words that are no times or statuses, a
  // missing or empty word (a hook whose variables were unset): no run.
  for (const std::string_view bad :
       {"1 2 - - load", "1 - exited 3 load", "x 2 exited 3 load", "1 2 exited x load",
        "1 2 killed NOSUCH load", "1 2 killed 0 load", "1 2 stopped 3 load", "1 2 exited 3",
        "1 2 exited 3 load unloaded extra", "1 2 exited 3 load gone", "-1 2 exited 3 load",
        "1. 2 exited 3 load", "99999999999999999 2 exited 3 load", ""})
    EXPECT_EQ(parseRunLine(bad), std::nullopt) << bad;

  // A record cut short keeps the runs before the cut; a rewrite keeps only the last ones.
  const std::string text = runsText(runs);
  EXPECT_EQ(parseRuns(text + "1765292011.0 17652"), runs);
  Runs many;
  for (int i = 0; i < 25; ++i)
    many.push_back({int64_t{i} * 1'000'000, int64_t{i} * 1'000'000 + 1, i, RunCause::interval});
  const Runs kept = parseRuns(runsText(many));
  ASSERT_EQ(kept.size(), kKeptRuns);
  EXPECT_EQ(kept.front(), many[25 - kKeptRuns]);
  EXPECT_EQ(kept.back(), many.back());
}

TEST(RunRecord, PrintedHistoryAndNextRunAreReadFromTheServicesOwnLines) {
  EXPECT_EQ(Agents::parsePrintedRuns("gui/0/com.x = {\n"
                                     "\tstate = running\n"
                                     "\t1 2 exited 9 load\n"
                                     "\trun history = {\n"
                                     "\t\t1.5 2.5 exited 3 load\n"
                                     "\t\tnot a run\n"
                                     "\t\t3 - - - keepalive\n"
                                     "\t}\n"
                                     "\tother = {\n\t\t4 5 exited 1 load\n\t}\n"
                                     "}\n"),
            (Runs{{1'500000, 2'500000, 3, RunCause::load},
                  {3'000000, std::nullopt, std::nullopt, RunCause::keepAlive}}));
  EXPECT_EQ(Agents::parsePrintedRuns("gui/0/com.x = {\n\trun history = {\n\t}\n}\n"), Runs{});
  EXPECT_EQ(Agents::parsePrintedRuns("gui/0/com.x = {\n\tstate = running\n}\n"), std::nullopt);

  // The manager's next start is the service's own line; one inside a nested block, or one that
  // holds no plain number, is not taken.
  EXPECT_EQ(Agents::parsePrintedNextRun("gui/0/com.x = {\n"
                                        "\tother = {\n\t\tnext run = 5\n\t}\n"
                                        "\tnext run = 1765357200\n"
                                        "}\n"),
            std::time_t{1765357200});
  EXPECT_EQ(Agents::parsePrintedNextRun("gui/0/com.x = {\n\tstate = running\n}\n"), std::nullopt);
  for (const char* value : {"", "soon", "17653x", "-60", "0", "99999999999999999999999"})
    EXPECT_EQ(Agents::parsePrintedNextRun(std::string("gui/0/com.x = {\n\tnext run = ") + value +
                                          "\n}\n"),
              std::nullopt)
        << value;
}

TEST(FailureNotices, EachFailingRunOnceAndAtMostOneAMinutePerAgent) {
  constexpr int64_t kSecond = 1'000'000;
  auto ended = [](int64_t at, int64_t status, bool unloaded = false) {
    return morvane::Run{at - kSecond, at, status, RunCause::keepAlive, unloaded};
  };
  FailureNotices notices;
  // Failures from before the application watched get no notice.
  EXPECT_EQ(notices.take("a", {ended(10 * kSecond, 1)}, true), std::nullopt);
  // A run that starts, then succeeds, gives none; the next failure does, once.
  Runs runs = {ended(10 * kSecond, 1), {20 * kSecond, std::nullopt, std::nullopt}};
  EXPECT_EQ(notices.take("a", runs), std::nullopt);
  runs.back() = ended(21 * kSecond, 0);
  EXPECT_EQ(notices.take("a", runs), std::nullopt);
  runs.push_back(ended(30 * kSecond, 3));
  EXPECT_EQ(notices.take("a", runs), runs.back());
  EXPECT_EQ(notices.take("a", runs), std::nullopt) << "a second notice for the same run";
  // A restart loop: quiet until a minute has passed since the last notice.
  runs.push_back(ended(60 * kSecond, -SIGSEGV));
  EXPECT_EQ(notices.take("a", runs), std::nullopt);
  runs.push_back(ended(90 * kSecond, 3));
  runs.push_back(ended(95 * kSecond, 4));
  EXPECT_EQ(notices.take("a", runs), runs.back()) << "the latest of those ended meanwhile";
  // An end its unload caused is no failure; another agent has its own minute.
  runs.push_back(ended(200 * kSecond, -SIGTERM, true));
  EXPECT_EQ(notices.take("a", runs), std::nullopt);
  EXPECT_EQ(notices.take("b", {ended(96 * kSecond, 2)}), ended(96 * kSecond, 2));
  // A record that lost its runs (rewritten short) gives no notice for runs already seen.
  EXPECT_EQ(notices.take("a", {ended(95 * kSecond, 4)}), std::nullopt);
}

TEST(RunText, SaysHowLongAndHowEachRunEndedInBothLanguages) {
  constexpr int64_t kSecond = 1'000'000;
  const morvane::Run exited{100 * kSecond, 100 * kSecond + 400'000, 3, RunCause::load};
  const morvane::Run killed{0, 185 * kSecond, -SIGTERM, RunCause::keepAlive, true};
  const morvane::Run running{0, std::nullopt, std::nullopt, RunCause::unknown};
  const morvane::Run unknownStart{std::nullopt, 5, 0, RunCause::calendar};
  {
    testing::ScopedEnv english("MORVANE_LANG", "en");
    Language::apply(std::nullopt);
    EXPECT_EQ(RunText::duration(exited, 0), "0.4 s");
    EXPECT_EQ(RunText::duration(killed, 0), "3 min 5 s");
    EXPECT_EQ(RunText::duration(running, 7'200 * kSecond + 60 * kSecond), "2 h 1 min");
    EXPECT_EQ(RunText::duration(running, 90'000 * kSecond), "1 d 1 h");
    // A clock set back while it ran shows no negative time.
    EXPECT_EQ(RunText::duration(running, -5 * kSecond), "0.0 s");
    EXPECT_EQ(RunText::duration(unknownStart, 0), "-");
    EXPECT_EQ(RunText::result(exited), "exited 3");
    EXPECT_EQ(RunText::result(killed), "killed by SIGTERM, at unload");
    EXPECT_EQ(RunText::result(running), "running");
    EXPECT_EQ(RunText::result({0, 1, -1000, RunCause::unknown}), "killed by signal 1000");
    EXPECT_EQ(RunText::cause(killed), "keep-alive restart");
    EXPECT_EQ(RunText::cause(running), "");
    EXPECT_EQ(RunText::line(unknownStart, 0), "-  -  exited 0 (calendar)");
  }
  testing::ScopedEnv chinese("MORVANE_LANG", "zh");
  Language::apply(std::nullopt);
  EXPECT_EQ(RunText::duration(killed, 0), "3 分 5 秒");
  EXPECT_EQ(RunText::result(exited), "退出码 3");
  EXPECT_EQ(RunText::result(killed), "被 SIGTERM 终止，卸载时");
  EXPECT_EQ(RunText::result({0, 1, -1000, RunCause::unknown}), "被信号 1000 终止");
  EXPECT_EQ(RunText::line(unknownStart, 0), "-  -  退出码 0（日历计划）");
  Language::apply(std::nullopt);
}

}  // namespace
}  // namespace morvane
