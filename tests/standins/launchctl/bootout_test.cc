// bootout: ending jobs however they behave, and unloading jobs whose supervisor is gone.

#include <signal.h>

#include <chrono>

#include "harness.h"

namespace launchctl_test {
namespace {

using BootoutTest = LaunchctlTest;
using std::chrono::steady_clock;

/// A shell script that installs `trap`, reports readiness in `ready`, then idles.
std::vector<std::string> TrappingJob(const std::string& trap, const std::filesystem::path& ready) {
  return {"/bin/sh", "-c", trap + "; touch " + ready.string() + "; while :; do sleep 0.1; done"};
}

TEST_F(BootoutTest, UnloadedLabelIsNoSuchProcess) {
  const Result result = Run({"bootout", Service("org.example.absent")});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.err, "Boot-out failed: 3: No such process\n");
  EXPECT_EQ(result.out, "");
}

TEST_F(BootoutTest, SecondBootoutOfSameLabelFails) {
  Load("org.example.twice", {"sleep", "30"});
  EXPECT_EQ(Run({"bootout", Service("org.example.twice")}).status, 0);
  EXPECT_EQ(Run({"bootout", Service("org.example.twice")}).status, 3);
}

TEST_F(BootoutTest, JobIgnoringTermIsKilledAfterExitTimeOut) {
  const std::filesystem::path ready = home_ / "ready";
  Load("org.example.stubborn", TrappingJob("trap '' TERM", ready),
       "<key>ExitTimeOut</key><integer>1</integer>\n");
  const pid_t pid = PidOf("org.example.stubborn");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(ready); }));
  const auto started = steady_clock::now();
  const Result result = Run({"bootout", Service("org.example.stubborn")});
  const auto took = steady_clock::now() - started;
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_GE(took, std::chrono::milliseconds(900)) << "SIGKILL came before the timeout";
  EXPECT_LT(took, std::chrono::seconds(4));
  EXPECT_TRUE(PidIsGone(pid));
  EXPECT_FALSE(Row("org.example.stubborn"));
}

TEST_F(BootoutTest, WaitsForJobThatTakesTimeToExit) {
  const std::filesystem::path ready = home_ / "ready";
  Load("org.example.slow", TrappingJob("trap 'sleep 0.5; exit 0' TERM", ready));
  const pid_t pid = PidOf("org.example.slow");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(ready); }));
  EXPECT_EQ(Run({"bootout", Service("org.example.slow")}).status, 0);
  EXPECT_TRUE(PidIsGone(pid));
}

TEST_F(BootoutTest, JobThatIsNotRunningIsUnloaded) {
  Load("org.example.done", {"true"});
  ASSERT_EQ(WaitForExit("org.example.done"), 0);
  EXPECT_EQ(Run({"bootout", Service("org.example.done")}).status, 0);
  EXPECT_FALSE(Row("org.example.done"));
}

TEST_F(BootoutTest, JobWhoseSupervisorWasKilledIsStillStopped) {
  Load("org.example.orphan", {"sleep", "30"});
  const pid_t pid = PidOf("org.example.orphan");
  ASSERT_GT(pid, 0);
  const pid_t supervisor = ParentOf(pid);
  ASSERT_GT(supervisor, 1);
  ASSERT_EQ(kill(supervisor, SIGKILL), 0);
  ASSERT_TRUE(Eventually([&] { return !IsRunning(supervisor); }));
  EXPECT_EQ(PidOf("org.example.orphan"), pid) << "the job itself still runs";

  EXPECT_EQ(Run({"bootout", Service("org.example.orphan")}).status, 0);
  // With its supervisor gone nobody here may reap it, so only "not running" can be asked.
  EXPECT_FALSE(IsRunning(pid));
  EXPECT_FALSE(Row("org.example.orphan"));
}

TEST_F(BootoutTest, DeadSupervisorAndJobShowAsNotRunning) {
  Load("org.example.gone", {"sleep", "30"});
  const pid_t pid = PidOf("org.example.gone");
  ASSERT_GT(pid, 0);
  const pid_t supervisor = ParentOf(pid);
  ASSERT_EQ(kill(supervisor, SIGKILL), 0);
  ASSERT_TRUE(Eventually([&] { return !IsRunning(supervisor); }));
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(Eventually([&] { return !IsRunning(pid); }));
  const std::optional<ListRow> row = Row("org.example.gone");
  ASSERT_TRUE(row);
  EXPECT_EQ(row->pid, "-");
  EXPECT_EQ(Run({"bootout", Service("org.example.gone")}).status, 0);
}

}  // namespace
}  // namespace launchctl_test
