#include "shell.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "test_support.h"

namespace morvane {
namespace {

using Clock = std::chrono::steady_clock;

ShellResult sh(const std::string& script, double timeout = 10, Shell::Environment env = {}) {
  return Shell::run("/bin/sh", {"-c", script}, timeout, env);
}

/// The descriptors open in this process; with `inheritedOnly`, those a child would inherit.
size_t openDescriptorCount(bool inheritedOnly = false) {
  size_t count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (const dirent* entry = ::readdir(dir)) {
    int fd = std::atoi(entry->d_name);
    if (entry->d_name[0] == '.' || fd == ::dirfd(dir))
      continue;
    if (!inheritedOnly || (fd > 2 && !(::fcntl(fd, F_GETFD) & FD_CLOEXEC)))
      ++count;
  }
  ::closedir(dir);
  return count;
}

TEST(ShellRun, CollectsStatusAndBothStreamsUntrimmed) {
  ShellResult result = sh("printf ' out \\n'; printf 'err\\n' >&2; exit 3");
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.standardOutput, " out \n");
  EXPECT_EQ(result.standardError, "err\n");
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.timedOut);
  EXPECT_TRUE(sh("true").ok());
}

TEST(ShellRun, ProgramThatCannotStartGivesStatus127WithReason) {
  ShellResult missing = Shell::run("/nonexistent/tool", {}, 5);
  EXPECT_EQ(missing.status, 127);
  EXPECT_EQ(missing.standardOutput, "");
  EXPECT_EQ(missing.standardError, "/nonexistent/tool: No such file or directory");
  EXPECT_EQ(missing.message(), missing.standardError);

  testing::TempDir dir;
  testing::writeFile(dir / "plain", "not executable");
  ShellResult denied = Shell::run(dir / "plain", {}, 5);
  EXPECT_EQ(denied.status, 127);
  EXPECT_EQ(denied.standardError, (dir / "plain").string() + ": Permission denied");
}

TEST(ShellRun, ArgumentsArePassedVerbatimWithoutAShell) {
  ShellResult result = Shell::run("/usr/bin/printf", {"[%s]", "a b", "'q'", "$HOME", ""}, 5);
  EXPECT_EQ(result.standardOutput, "[a b]['q'][$HOME][]");
}

TEST(ShellRun, StandardInputIsTheNullDevice) {
  ShellResult result = sh("cat; echo done");
  EXPECT_EQ(result.standardOutput, "done\n");
}

TEST(ShellRun, DrainsBothStreamsBeyondPipeCapacity) {
  // 8 MiB to each stream, interleaved, so a runner that reads one stream at a time deadlocks.
  ShellResult result =
      sh("i=0; while [ $i -lt 8 ]; do head -c 1048576 /dev/zero | tr '\\0' o;"
         " head -c 1048576 /dev/zero | tr '\\0' e >&2; i=$((i+1)); done",
         60);
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.standardOutput.size(), 8u << 20);
  EXPECT_EQ(result.standardError.size(), 8u << 20);
  EXPECT_EQ(result.standardOutput.find_first_not_of('o'), std::string::npos);
  EXPECT_EQ(result.standardError.find_first_not_of('e'), std::string::npos);
}

TEST(ShellRun, TimeLimitSendsTerminateAndKeepsEarlierOutput) {
  auto start = Clock::now();
  ShellResult result = sh("echo before; exec sleep 30", 0.5);
  auto elapsed = Clock::now() - start;
  EXPECT_EQ(result.status, 15);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.standardOutput, "before\n");
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_GE(elapsed, std::chrono::milliseconds(450));
}

TEST(ShellRun, ChildThatHandlesTerminateReportsItsOwnExitCode) {
  ShellResult result = sh("trap 'echo caught; kill $!; exit 7' TERM; sleep 30 & wait", 0.3);
  EXPECT_EQ(result.status, 7);
  EXPECT_EQ(result.standardOutput, "caught\n");
}

TEST(ShellRun, ChildThatClosesItsStreamsIsStillTimed) {
  ShellResult result = sh("exec >&- 2>&-; exec sleep 30", 0.3);
  EXPECT_EQ(result.status, 15);
}

TEST(ShellRun, ChildFinishingInTimeIsNeverSignalled) {
  // The child ends at once; its background grandchild writes later but within the limit.
  ShellResult result = sh("(sleep 0.3; echo late >&2) & exit 4", 5);
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.standardError, "late\n");
}

TEST(ShellRunTimeLimit, ChildThatIgnoresTerminateIsKilledAfterTheGrace) {
  auto start = Clock::now();
  ShellResult result =
      Shell::run("/bin/sh", {"-c", "trap '' TERM; echo up; sleep 30; exit 0"}, 0.3, {}, 0.3);
  auto elapsed = Clock::now() - start;
  EXPECT_EQ(result.status, 9);
  EXPECT_EQ(result.standardOutput, "up\n");
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_GE(elapsed, std::chrono::milliseconds(550));
}

/// Whether a process has ended: it is gone, or a zombie nobody reaped.
bool ended(pid_t pid) {
  const std::string stat = testing::readText("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z");
}

TEST(ShellRunTimeLimit, EverythingTheChildStartedEndsWithItAndNothingHoldsTheRun) {
  // A child and a grandchild that both ignore SIGTERM (a trap of '' is inherited), the
  // grandchild holding the output pipe open: the run still ends at the limit plus the grace,
  // and takes both with it.
  testing::TempDir dir;
  const auto start = Clock::now();
  ShellResult result = Shell::run(
      "/bin/sh",
      {"-c", "trap '' TERM; sleep 60 & echo $! > '" + (dir / "pid").string() + "'; echo up; wait"},
      0.3, {}, 0.3);
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(result.status, 9);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.standardOutput, "up\n");
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  const pid_t grandchild = std::stoi(testing::readText(dir / "pid"));
  for (int i = 0; i < 100 && !ended(grandchild); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(ended(grandchild));
  if (!ended(grandchild))
    ::kill(grandchild, SIGKILL);
}

TEST(ShellRunTimeLimit, StoppedChildIsKilled) {
  auto start = Clock::now();
  ShellResult result = Shell::run("/bin/sh", {"-c", "kill -STOP $$; exit 0"}, 0.3, {}, 0.3);
  EXPECT_EQ(result.status, 9);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST(ShellRunTimeLimit, GrandchildHoldingThePipeIsNotWaitedForPastTheLimit) {
  testing::TempDir dir;
  auto start = Clock::now();
  // The grandchild writes its pid so the test can end it afterwards.
  ShellResult result =
      sh("sleep 30 & echo $! > '" + (dir / "pid").string() + "'; echo done; exit 3", 0.4);
  auto elapsed = Clock::now() - start;
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.standardOutput, "done\n");
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_GE(elapsed, std::chrono::milliseconds(350));
  ::kill(std::stoi(testing::readText(dir / "pid")), SIGKILL);
}

TEST(ShellRunTimeLimit, IgnoredChildSignalEndsTheRunInsteadOfSpinning) {
  // Children of a process that ignores SIGCHLD are reaped by the system, and waitpid can only
  // say ECHILD.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGCHLD, &ignore, &previous);
  auto start = Clock::now();
  ShellResult result = sh("echo out; exit 0", 20);
  auto elapsed = Clock::now() - start;
  ::sigaction(SIGCHLD, &previous, nullptr);
  EXPECT_EQ(result.standardOutput, "out\n");
  EXPECT_FALSE(result.ok());  // the status is lost, and that is not a success
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(ShellRun, InvalidUtf8BecomesReplacementCharacters) {
  ShellResult result = sh("printf 'a\\377b\\303'; printf '\\355\\240\\200' >&2");
  EXPECT_EQ(result.standardOutput,
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  EXPECT_EQ(result.standardError, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(ShellRun, EnvironmentIsInheritedOrExtended) {
  testing::ScopedEnv parent("MORVANE_SHELL_TEST", "parent");
  testing::ScopedEnv other("MORVANE_SHELL_OTHER", "kept");
  EXPECT_EQ(sh("echo $MORVANE_SHELL_TEST-$MORVANE_SHELL_OTHER").standardOutput, "parent-kept\n");
  ShellResult extended = sh("echo $MORVANE_SHELL_TEST-$MORVANE_SHELL_OTHER-$EXTRA", 10,
                            {{"MORVANE_SHELL_TEST", "child"}, {"EXTRA", "x"}});
  EXPECT_EQ(extended.standardOutput, "child-kept-x\n");
  ShellResult count = sh("env | grep -c '^MORVANE_SHELL_TEST='", 10, {{"MORVANE_SHELL_TEST", "c"}});
  EXPECT_EQ(count.standardOutput, "1\n");
}

TEST(ShellRun, LeaksNoDescriptorsIntoChildrenOrThisProcess) {
  size_t before = openDescriptorCount();
  // 0, 1, 2, the listing's own descriptor, and whatever this process was given to pass on.
  std::string expected = std::to_string(4 + openDescriptorCount(true)) + "\n";
  std::vector<std::thread> threads;
  std::vector<std::string> seen(4);
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&seen, i] {
      seen[i] =
          Shell::run("/bin/sh", {"-c", "sleep 0.2; ls /proc/self/fd | wc -l"}, 10).standardOutput;
    });
  for (auto& thread : threads)
    thread.join();
  for (const std::string& count : seen)
    EXPECT_EQ(count, expected);
  Shell::run("/nonexistent", {}, 1);
  EXPECT_EQ(openDescriptorCount(), before);
}

TEST(ShellResultMessage, PrefersTrimmedStandardErrorThenStandardOutput) {
  EXPECT_EQ((ShellResult{1, " out\n", "\t err \u00a0\r\n"}).message(), "err");
  EXPECT_EQ((ShellResult{1, "\n out \u2003\n", " \n\v\f\u0085"}).message(), "out");
  EXPECT_EQ((ShellResult{1, " \n", "\n"}).message(), "");
  // Line and paragraph separators are not white space here.
  EXPECT_EQ((ShellResult{1, "", "\u2028x"}).message(), "\u2028x");
}

TEST(ShellQuote, WrapsInApostrophesAndEscapesThem) {
  EXPECT_EQ(Shell::quote(""), "''");
  EXPECT_EQ(Shell::quote("a'b"), "'a'\\''b'");
  EXPECT_EQ(Shell::quote("/p a/$x"), "'/p a/$x'");
  std::string tricky = "it's \"$(rm -rf /)\" `x` \\ \n";
  EXPECT_EQ(sh("printf %s " + Shell::quote(tricky)).standardOutput, tricky);
}

}  // namespace
}  // namespace morvane
