#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <sstream>
#include <thread>

#include "app_identifier.h"
#include "cli.h"
#include "platform.h"
#include "shell.h"
#include "test_support.h"

namespace morvane {
namespace {

using testing::readText;
using testing::ScopedEnv;

const std::string kLabel = std::string(kAppIdentifier) + ".selftest";

/// Names of the self-test's temporary directories left in `dir`.
std::vector<std::string> leftovers(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename().string().starts_with("morvane-selftest-"))
      names.push_back(entry.path().filename());
  return names;
}

/// The self-test as a user runs it: the bundled executable against the bundled service manager.
class SelfTestEndToEnd : public ::testing::Test {
 protected:
  ShellResult morvane(const std::string& language, const std::string& tmp) {
    return Shell::run(MORVANE_EXECUTABLE, {"--selftest"}, 120,
                      {{"HOME", home_.path()}, {"TMPDIR", tmp}, {"MORVANE_LANG", language}});
  }
  ShellResult launchctl(std::vector<std::string> arguments) {
    return Shell::run(LAUNCHCTL_STANDIN, arguments, 30, {{"HOME", home_.path()}});
  }
  void expectNothingLeftBehind() {
    EXPECT_EQ(launchctl({"list"}).standardOutput, "PID\tStatus\tLabel\n");
    std::string disabled =
        launchctl({"print-disabled", "gui/" + std::to_string(::getuid())}).standardOutput;
    EXPECT_EQ(disabled.find("\"" + kLabel + "\" => disabled"), std::string::npos) << disabled;
    EXPECT_TRUE(leftovers(tmp_.path()).empty());
  }

  testing::TempDir home_;
  testing::TempDir tmp_;
};

TEST_F(SelfTestEndToEnd, PassesInEnglishAndLeavesNothingBehind) {
  ShellResult result = morvane("en", tmp_.path());
  EXPECT_EQ(result.status, 0) << result.standardOutput << result.standardError;
  std::istringstream lines(result.standardOutput);
  std::string read, load, unload, loadDisabled, extra;
  std::getline(lines, read);
  std::getline(lines, load);
  std::getline(lines, unload);
  std::getline(lines, loadDisabled);
  EXPECT_EQ(read, "Read    ✓ " + kLabel);
  EXPECT_TRUE(load.starts_with("Load    ✓ pid ")) << load;
  EXPECT_GT(std::stoll(load.substr(std::string("Load    ✓ pid ").size())), 1);
  EXPECT_EQ(unload, "Unload  ✓");
  EXPECT_EQ(loadDisabled, "Load a disabled agent  ✓");
  EXPECT_FALSE(std::getline(lines, extra)) << extra;
  expectNothingLeftBehind();
}

TEST_F(SelfTestEndToEnd, PassesInChinese) {
  ShellResult result = morvane("zh_CN", tmp_.path());
  EXPECT_EQ(result.status, 0) << result.standardOutput;
  EXPECT_TRUE(result.standardOutput.starts_with("读取    ✓ " + kLabel + "\n加载    ✓ pid "))
      << result.standardOutput;
  EXPECT_TRUE(result.standardOutput.ends_with("\n卸载    ✓\n停用后加载  ✓\n"));
  expectNothingLeftBehind();
}

TEST_F(SelfTestEndToEnd, LeftoverLoadedTestAgentFailsTheReadStep) {
  testing::writeFile(
      home_ / "old.plist",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" + kLabel +
          "</string><key>ProgramArguments</key><array><string>/bin/sleep"
          "</string><string>300</string></array><key>RunAtLoad</key><true/></dict></plist>");
  ASSERT_TRUE(
      launchctl({"bootstrap", "gui/" + std::to_string(::getuid()), home_ / "old.plist"}).ok());
  ShellResult result = morvane("en", tmp_.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.standardOutput, "✗ Couldn't read the temporary agent\n");
  expectNothingLeftBehind();  // the clean-up unloads the agent it found loaded
}

TEST_F(SelfTestEndToEnd, SetupFailureIsOneLineAndExitStatusOne) {
  testing::writeFile(tmp_ / "file", "");
  ShellResult result = morvane("en", tmp_ / "file");
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(
      result.standardOutput.starts_with("✗ " + (tmp_ / "file").string() + "/morvane-selftest-"))
      << result.standardOutput;
  EXPECT_TRUE(result.standardOutput.ends_with(": Not a directory\n")) << result.standardOutput;
  EXPECT_EQ(std::count(result.standardOutput.begin(), result.standardOutput.end(), '\n'), 1);
}

TEST_F(SelfTestEndToEnd, ClosedOutputStopsTheTestWhichCleansUpAndEndsBySigpipe) {
  ShellResult result = Shell::run(
      "/bin/bash",
      {"-c", "\"$0\" --selftest | head -1; echo \"status ${PIPESTATUS[0]}\"", MORVANE_EXECUTABLE},
      120, {{"HOME", home_.path()}, {"TMPDIR", tmp_.path()}, {"MORVANE_LANG", "en"}});
  EXPECT_EQ(result.standardOutput, "Read    ✓ " + kLabel + "\nstatus 141\n");
  expectNothingLeftBehind();
}

TEST_F(SelfTestEndToEnd, SignalAtAnyStepCleansUpAndEndsByThatSignal) {
  const std::vector<std::string> env{"HOME=" + home_.path().string(),
                                     "TMPDIR=" + tmp_.path().string(), "MORVANE_LANG=en",
                                     "PATH=/usr/bin:/bin"};
  std::vector<char*> envp;
  for (const std::string& entry : env)
    envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const std::pair<int, int> cases[] = {{SIGINT, 30},  {SIGTERM, 150},  {SIGHUP, 400},
                                       {SIGINT, 700}, {SIGTERM, 1000}, {SIGINT, 1400}};
  for (const auto& [signal, delay] : cases) {
    char* argv[] = {const_cast<char*>(MORVANE_EXECUTABLE), const_cast<char*>("--selftest"),
                    nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, MORVANE_EXECUTABLE, nullptr, nullptr, argv, envp.data()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    ::kill(pid, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == signal) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 0))
        << "signal " << signal << " after " << delay << " ms gave " << status;
    expectNothingLeftBehind();
  }
}

/// The self-test in-process against a scripted launchctl, for what a sound manager never does.
class SelfTestAgainstFake : public ::testing::Test {
 protected:
  void SetUp() override {
    // Orphaned processes of the fake come to this process, which reaps them; each job runs
    // under a subshell that reaps it, as a service manager would.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    platform::overrideToolPath(platform::Tool::launchctl, dir_ / "launchctl");
  }
  void TearDown() override {
    platform::resetToolPaths();
    std::istringstream pids(readText(dir_ / "pids"));
    for (pid_t pid; pids >> pid;)
      ::kill(pid, SIGKILL);
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  }

  /// A launchctl keeping its state in files; `enable` and `bootout` run the given commands.
  void fake(const std::string& enable, const std::string& bootout) {
    const std::string d = dir_.path();
    testing::writeScript(
        dir_ / "launchctl",
        "d='" + d +
            "'; echo \"$1\" >> \"$d/calls\"\ncase $1 in\n"
            "list) printf 'PID\\tStatus\\tLabel\\n'; cat \"$d/loaded\" 2>/dev/null; exit 0;;\n"
            "print-disabled) [ -f \"$d/disabled\" ] && printf '\\t\\t\"%s\" => disabled\\n' '" +
            kLabel +
            "';;\n"
            "disable) touch \"$d/disabled\";;\n"
            "enable) " +
            enable +
            ";;\n"
            "bootstrap) [ -f \"$d/disabled\" ] && exit 5\n"
            "  (sleep 300 & echo $! >> \"$d/pids\"; printf '%s\\t0\\t%s\\n' $! '" +
            kLabel +
            "' > \"$d/loaded\"; wait) >/dev/null 2>&1 &\n  while [ ! -s \"$d/loaded\" ]; do sleep "
            "0.01; done;;\n"
            "bootout) " +
            bootout + ";;\nesac");
  }

  /// How often launchctl was called with `subcommand`.
  int calls(const std::string& subcommand) const {
    std::istringstream lines(readText(dir_ / "calls"));
    int count = 0;
    for (std::string line; std::getline(lines, line);)
      count += line == subcommand;
    return count;
  }

  std::string run(int32_t expectedStatus) {
    std::ostringstream out;
    EXPECT_EQ(CLI::selfTest(out), expectedStatus);
    return out.str();
  }

  testing::TempDir dir_;
  testing::TempDir tmp_;
  ScopedEnv tmpVariable_{"TMPDIR", tmp_.path()};
  ScopedEnv data_{"MORVANE_HOME", (dir_ / "data").string()};
  ScopedEnv language_{"MORVANE_LANG", "en"};
};

TEST_F(SelfTestAgainstFake, ProcessThatSurvivesItsUnloadFailsTheUnloadStep) {
  fake("rm -f \"$d/disabled\"", "rm -f \"$d/loaded\"");  // unlisted, but the process lives on
  std::string output = run(1);
  EXPECT_TRUE(output.ends_with("\n✗ The process is still there after unloading\n")) << output;
  EXPECT_EQ(calls("disable"), 0);
  EXPECT_TRUE(leftovers(tmp_.path()).empty());
}

TEST_F(SelfTestAgainstFake, FailedLoadOfTheDisabledAgentStillEnablesItAgain) {
  // The first enable fails, so the load of the disabled agent fails; the second must still come.
  fake(
      "[ -f \"$d/enabled-once\" ] && rm -f \"$d/disabled\"; touch \"$d/enabled-once\"; "
      "[ -f \"$d/disabled\" ] && { echo 'enable refused' >&2; exit 1; }",
      // As the real one, bootout returns once the job's process is gone.
      "p=$(cut -f1 \"$d/loaded\"); kill $p; while kill -0 $p 2>/dev/null; do sleep 0.01; done; "
      "rm -f \"$d/loaded\"");
  std::string output = run(1);
  EXPECT_TRUE(output.ends_with("Unload  ✓\n✗ " + kLabel + " did not load: enable refused\n"))
      << output;
  EXPECT_EQ(calls("enable"), 2) << output;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "disabled"));
  EXPECT_TRUE(leftovers(tmp_.path()).empty());
}

}  // namespace
}  // namespace morvane
