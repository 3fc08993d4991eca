// bootout: ending jobs however they behave, and unloading jobs whose supervisor is gone.

#include <signal.h>

#include <chrono>

#include "harness.h"

namespace launchctl_test {
namespace {

using BootoutTest = LaunchctlTest;
using BuiltinBootoutTest = BuiltinLaunchctlTest;
using std::chrono::steady_clock;

/// A shell script that installs `trap`, reports readiness in `ready`, then idles.
std::vector<std::string> trappingJob(const std::string& trap, const std::filesystem::path& ready) {
  return {"/bin/sh", "-c", trap + "; touch " + ready.string() + "; while :; do sleep 0.1; done"};
}

TEST_P(BootoutTest, UnloadedLabelIsNoSuchProcess) {
  const Result result = run({"bootout", service("org.example.absent")});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.err, "Boot-out failed: 3: No such process\n");
  EXPECT_EQ(result.out, "");
}

TEST_P(BootoutTest, SecondBootoutOfSameLabelFails) {
  load("org.example.twice", {"sleep", "30"});
  EXPECT_EQ(run({"bootout", service("org.example.twice")}).status, 0);
  EXPECT_EQ(run({"bootout", service("org.example.twice")}).status, 3);
}

TEST_P(BootoutTest, JobIgnoringTermIsKilledAfterExitTimeOut) {
  const std::filesystem::path ready = home_ / "ready";
  load("org.example.stubborn", trappingJob("trap '' TERM", ready),
       "<key>ExitTimeOut</key><integer>1</integer>\n");
  const pid_t pid = pidOf("org.example.stubborn");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ready); }));
  const auto started = steady_clock::now();
  const Result result = run({"bootout", service("org.example.stubborn")});
  const auto took = steady_clock::now() - started;
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_GE(took, std::chrono::milliseconds(900)) << "SIGKILL came before the timeout";
  EXPECT_LT(took, std::chrono::seconds(4));
  EXPECT_TRUE(pidIsGone(pid));
  EXPECT_FALSE(rowOf("org.example.stubborn"));
}

TEST_P(BootoutTest, JobOutlastingThePatienceIsNamedAndKilledWhenItsExitTimeOutPasses) {
  const std::filesystem::path ready = home_ / "ready";
  load("org.example.stubborn", trappingJob("trap '' TERM", ready),
       "<key>ExitTimeOut</key><integer>12</integer>\n");
  const pid_t pid = pidOf("org.example.stubborn");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ready); }));
  const Result result = run({"bootout", service("org.example.stubborn")});
  EXPECT_EQ(result.status, 36);
  const std::string waiting =
      "Boot-out failed: 36: Operation now in progress\nWaiting for "
      "org.example.stubborn (pid " +
      std::to_string(pid) + ") to exit after SIGTERM; SIGKILL follows in ";
  EXPECT_TRUE(result.err.starts_with(waiting)) << result.err;
  EXPECT_EQ(pidOf("org.example.stubborn"), pid) << "listed while it runs";
  // Nobody waits any more, yet the SIGKILL comes when the twelve seconds are over.
  EXPECT_TRUE(eventually([&] { return !rowOf("org.example.stubborn"); }, std::chrono::seconds(8)));
  EXPECT_FALSE(isRunning(pid));
}

TEST_P(BootoutTest, WaitsForJobThatTakesTimeToExit) {
  const std::filesystem::path ready = home_ / "ready";
  load("org.example.slow", trappingJob("trap 'sleep 0.5; exit 0' TERM", ready));
  const pid_t pid = pidOf("org.example.slow");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(ready); }));
  EXPECT_EQ(run({"bootout", service("org.example.slow")}).status, 0);
  EXPECT_TRUE(pidIsGone(pid));
}

TEST_P(BootoutTest, JobThatIsNotRunningIsUnloaded) {
  load("org.example.done", {"true"});
  ASSERT_EQ(waitForExit("org.example.done"), 0);
  EXPECT_EQ(run({"bootout", service("org.example.done")}).status, 0);
  EXPECT_FALSE(rowOf("org.example.done"));
}

TEST_F(BuiltinBootoutTest, JobWhoseSupervisorWasKilledIsStillStopped) {
  load("org.example.orphan", {"sleep", "30"});
  const pid_t pid = pidOf("org.example.orphan");
  ASSERT_GT(pid, 0);
  const pid_t supervisor = parentOf(pid);
  ASSERT_GT(supervisor, 1);
  ASSERT_EQ(kill(supervisor, SIGKILL), 0);
  ASSERT_TRUE(eventually([&] { return !isRunning(supervisor); }));
  EXPECT_EQ(pidOf("org.example.orphan"), pid) << "the job itself still runs";

  EXPECT_EQ(run({"bootout", service("org.example.orphan")}).status, 0);
  // With its supervisor gone nobody here may reap it, so only "not running" can be asked.
  EXPECT_FALSE(isRunning(pid));
  EXPECT_FALSE(rowOf("org.example.orphan"));
}

TEST_F(BuiltinBootoutTest, JobWhoseSupervisorDiedIsNoLongerLoaded) {
  // Killed with its job, as the end of a session does: gone, and loaded afresh by bootstrap.
  const std::string plist =
      writeJob("org.example.gone", {"sleep", "30"}, xmlBool("KeepAlive", true));
  ASSERT_EQ(run({"bootstrap", domain(), plist}).status, 0);
  const pid_t pid = pidOf("org.example.gone");
  ASSERT_GT(pid, 0);
  const pid_t supervisor = parentOf(pid);
  ASSERT_EQ(kill(supervisor, SIGKILL), 0);
  ASSERT_TRUE(eventually([&] { return !isRunning(supervisor); }));
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(eventually([&] { return !isRunning(pid); }));
  EXPECT_FALSE(rowOf("org.example.gone"));
  EXPECT_EQ(run({"bootout", service("org.example.gone")}).status, 3);
  ASSERT_EQ(run({"bootstrap", domain(), plist}).status, 0);
  EXPECT_GT(pidOf("org.example.gone"), 0) << "loaded and started again";

  // A job whose supervisor ended of its own accord (nothing left to do) stays loaded.
  load("org.example.once", {"sleep", "1"});
  const pid_t once = pidOf("org.example.once");
  ASSERT_GT(once, 0);
  const pid_t leaving = parentOf(once);
  EXPECT_EQ(waitForExit("org.example.once"), 0);
  ASSERT_TRUE(eventually([&] { return !isRunning(leaving); }));
  EXPECT_TRUE(rowOf("org.example.once"));
  EXPECT_EQ(run({"bootout", service("org.example.once")}).status, 0);
  EXPECT_EQ(run({"bootout", service("org.example.gone")}).status, 0);

  // A supervisor's pid now held by another process (its start time differs) is gone too.
  writeFile(home_ / ".launchd-standin" / "state.json",
            "{\"jobs\": {\"org.example.reused\": {\"plist\": \"/x.plist\", \"supervisor\": "
            "{\"pid\": " +
                std::to_string(getpid()) + ", \"start\": 1}}}}");
  EXPECT_FALSE(rowOf("org.example.reused"));
  EXPECT_TRUE(listRows().empty());
}

LAUNCHCTL_ON_BOTH_ENGINES(BootoutTest);

}  // namespace
}  // namespace launchctl_test
