#include <gtest/gtest.h>

#include <algorithm>

#include "agents.h"
#include "failed_exits.h"
#include "platform.h"
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
}

}  // namespace
}  // namespace morvane
