// Jobs that end by themselves or by signals, and KeepAlive restarts.

#include <signal.h>

#include <sstream>
#include <thread>

#include "harness.h"

namespace launchctl_test {
namespace {

using JobLifecycleTest = LaunchctlTest;

/// Counts the lines of a file.
std::size_t LineCount(const std::filesystem::path& path) {
  std::istringstream text(ReadFile(path));
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
    Load(label, {"/bin/sh", "-c", script});
    EXPECT_EQ(WaitForExit(label), expected) << script;
  }
}

TEST_F(JobLifecycleTest, KilledJobIsReapedAndShowsSignal) {
  Load("org.example.victim", {"sleep", "30"});
  const pid_t pid = PidOf("org.example.victim");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  EXPECT_EQ(WaitForExit("org.example.victim"), -9);
  EXPECT_TRUE(PidIsGone(pid)) << "an exited job must not stay a zombie";
}

TEST_F(JobLifecycleTest, KeepAliveRestartsAtMostOncePerSecondUntilBootout) {
  const std::filesystem::path runs = home_ / "runs";
  Load("org.example.phoenix", {"/bin/sh", "-c", "echo run >> " + runs.string() + "; exit 4"},
       XmlBool("KeepAlive", true));
  ASSERT_TRUE(Eventually([&] { return LineCount(runs) >= 3; }, std::chrono::seconds(6)))
      << LineCount(runs);
  EXPECT_LE(LineCount(runs), 4u) << "restarts are not throttled";
  const std::optional<ListRow> row = Row("org.example.phoenix");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->status, 4);

  ASSERT_EQ(Run({"bootout", Service("org.example.phoenix")}).status, 0);
  const std::size_t after_bootout = LineCount(runs);
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  EXPECT_EQ(LineCount(runs), after_bootout) << "restarted after bootout";
}

TEST_F(JobLifecycleTest, BootoutWhileWaitingToRestartPreventsTheRestart) {
  const std::filesystem::path runs = home_ / "runs";
  Load("org.example.once", {"/bin/sh", "-c", "echo run >> " + runs.string()},
       XmlBool("KeepAlive", true));
  ASSERT_TRUE(Eventually([&] { return LineCount(runs) == 1; }));
  // The next start is at least a second away; bootout now must cancel it.
  ASSERT_EQ(Run({"bootout", Service("org.example.once")}).status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(LineCount(runs), 1u);
}

TEST_F(JobLifecycleTest, KeepAliveReplacesKilledProcess) {
  // KeepAlive alone starts the job at load, as RunAtLoad does.
  const std::filesystem::path path = home_ / "keeper.plist";
  WriteFile(path,
            XmlPlist(XmlString("Label", "org.example.keeper") +
                     XmlStrings("ProgramArguments", {"sleep", "30"}) + XmlBool("KeepAlive", true)));
  ASSERT_EQ(Run({"bootstrap", Domain(), path.string()}).status, 0);
  const pid_t first = PidOf("org.example.keeper");
  ASSERT_GT(first, 0);
  ASSERT_EQ(kill(first, SIGKILL), 0);
  pid_t second = 0;
  ASSERT_TRUE(Eventually(
      [&] {
        second = PidOf("org.example.keeper");
        return second > 0 && second != first;
      },
      std::chrono::seconds(4)));
  EXPECT_TRUE(IsRunning(second));
  EXPECT_TRUE(PidIsGone(first));
  EXPECT_EQ(Row("org.example.keeper")->status, -9);
}

TEST_F(JobLifecycleTest, LeftoverProcessesOfTheJobAreEnded) {
  const std::filesystem::path child_pid = home_ / "child";
  Load("org.example.parent",
       {"/bin/sh", "-c", "sleep 30 & echo $! > " + child_pid.string() + "; exit 0"});
  ASSERT_EQ(WaitForExit("org.example.parent"), 0);
  const std::string text = ReadFile(child_pid);
  ASSERT_FALSE(text.empty());
  const pid_t child = static_cast<pid_t>(std::stol(text));
  // The supervisor ends the rest of the job's process group and, as its subreaper, reaps it.
  EXPECT_TRUE(Eventually([&] { return PidIsGone(child); }));
}

}  // namespace
}  // namespace launchctl_test
