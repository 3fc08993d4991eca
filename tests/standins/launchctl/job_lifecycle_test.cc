// Jobs that end by themselves or by signals, and KeepAlive restarts.

#include <signal.h>

#include <sstream>
#include <thread>

#include "harness.h"

namespace launchctl_test {
namespace {

using JobLifecycleTest = LaunchctlTest;

/// Counts the lines of a file.
std::size_t lineCount(const std::filesystem::path& path) {
  std::istringstream text(readFile(path));
  std::size_t count = 0;
  for (std::string line; std::getline(text, line);) {
    ++count;
  }
  return count;
}

TEST_F(JobLifecycleTest, ExitStatusesAreShownAfterTheJobEnds) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"exit 0", 0},
      {"exit 3", 3},
      {"kill -9 $$", -9},
      {"kill -TERM $$", -15},
  };
  int index = 0;
  for (const auto& [script, expected] : cases) {
    const std::string label = "org.example.exit" + std::to_string(index++);
    load(label, {"/bin/sh", "-c", script});
    EXPECT_EQ(waitForExit(label), expected) << script;
  }
}

TEST_F(JobLifecycleTest, KilledJobIsReapedAndShowsSignal) {
  load("org.example.victim", {"sleep", "30"});
  const pid_t pid = pidOf("org.example.victim");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  EXPECT_EQ(waitForExit("org.example.victim"), -9);
  EXPECT_TRUE(pidIsGone(pid)) << "an exited job must not stay a zombie";
}

TEST_F(JobLifecycleTest, KeepAliveRestartsAtMostOncePerSecondUntilBootout) {
  const std::filesystem::path runs = home_ / "runs";
  load("org.example.phoenix", {"/bin/sh", "-c", "echo run >> " + runs.string() + "; exit 4"},
       xmlBool("KeepAlive", true));
  ASSERT_TRUE(eventually([&] { return lineCount(runs) >= 3; }, std::chrono::seconds(6)))
      << lineCount(runs);
  EXPECT_LE(lineCount(runs), 4u) << "restarts are not throttled";
  const std::optional<ListRow> row = rowOf("org.example.phoenix");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->status, 4);

  ASSERT_EQ(run({"bootout", service("org.example.phoenix")}).status, 0);
  const std::size_t afterBootout = lineCount(runs);
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  EXPECT_EQ(lineCount(runs), afterBootout) << "restarted after bootout";
}

TEST_F(JobLifecycleTest, BootoutWhileWaitingToRestartPreventsTheRestart) {
  const std::filesystem::path runs = home_ / "runs";
  load("org.example.once", {"/bin/sh", "-c", "echo run >> " + runs.string()},
       xmlBool("KeepAlive", true));
  ASSERT_TRUE(eventually([&] { return lineCount(runs) == 1; }));
  // The next start is at least a second away; bootout now must cancel it.
  ASSERT_EQ(run({"bootout", service("org.example.once")}).status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(lineCount(runs), 1u);
}

TEST_F(JobLifecycleTest, KeepAliveReplacesKilledProcess) {
  // KeepAlive alone starts the job at load, as RunAtLoad does.
  const std::filesystem::path path = home_ / "keeper.plist";
  writeFile(path,
            xmlPlist(xmlString("Label", "org.example.keeper") +
                     xmlStrings("ProgramArguments", {"sleep", "30"}) + xmlBool("KeepAlive", true)));
  ASSERT_EQ(run({"bootstrap", domain(), path.string()}).status, 0);
  const pid_t first = pidOf("org.example.keeper");
  ASSERT_GT(first, 0);
  ASSERT_EQ(kill(first, SIGKILL), 0);
  pid_t second = 0;
  ASSERT_TRUE(eventually(
      [&] {
        second = pidOf("org.example.keeper");
        return second > 0 && second != first;
      },
      std::chrono::seconds(4)));
  EXPECT_TRUE(isRunning(second));
  EXPECT_TRUE(pidIsGone(first));
  EXPECT_EQ(rowOf("org.example.keeper")->status, -9);
}

TEST_F(JobLifecycleTest, LeftoverProcessesOfTheJobAreEnded) {
  const std::filesystem::path childPid = home_ / "child";
  load("org.example.parent",
       {"/bin/sh", "-c", "sleep 30 & echo $! > " + childPid.string() + "; exit 0"});
  ASSERT_EQ(waitForExit("org.example.parent"), 0);
  const std::string text = readFile(childPid);
  ASSERT_FALSE(text.empty());
  const pid_t child = static_cast<pid_t>(std::stol(text));
  // The supervisor ends the rest of the job's process group and, as its subreaper, reaps it.
  EXPECT_TRUE(eventually([&] { return pidIsGone(child); }));
}

}  // namespace
}  // namespace launchctl_test
