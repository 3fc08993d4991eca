#include <gtest/gtest.h>

#include <algorithm>

#include "agents.h"
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
