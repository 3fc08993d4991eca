#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run_history.h"
#include "user_manager_sandbox.h"

namespace launchctl_test {

/// Which engine of the stand-in runs the jobs.
enum class Engine { builtin, systemd };

/// The engine's name, as MORVANE_JOB_ENGINE takes it and as test names show it.
std::string engineName(Engine engine);

/// How gtest prints an engine.
void PrintTo(Engine engine, std::ostream* out);

/// A parameterised test's name suffix: its engine's name.
std::string engineTestName(const ::testing::TestParamInfo<Engine>& param);

/// What one run of the stand-in produced.
struct Result {
  int status = -1;  ///< Exit status; -1 when it did not exit normally or timed out.
  std::string out;
  std::string err;
};

/// How to run the stand-in besides its arguments.
struct RunOptions {
  std::filesystem::path home;                   ///< Becomes HOME.
  std::map<std::string, std::string> extraEnv;  ///< Added to the environment.
  std::optional<uid_t> asUser;                  ///< Run under this uid (and gid) via setpriv.
};

/// Runs the stand-in to completion, collecting both outputs through pipes.
Result runLaunchctl(const std::vector<std::string>& args, const RunOptions& options);

/// Runs any program (its absolute path first) the same way.
Result runProgram(const std::vector<std::string>& words, const RunOptions& options);

/// One row of `list`: the pid column as printed and the status column.
struct ListRow {
  std::string pid;
  int status = 0;
};

/// Polls `done` until it holds or `timeout` passes; returns its last value.
bool eventually(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));

/// True while `pid` names a process that has not exited (a zombie has exited).
bool isRunning(pid_t pid);

/// True when kill(pid, 0) reports that no process, not even a zombie, has `pid`.
bool pidIsGone(pid_t pid);

/// Returns the parent pid of `pid`, or 0 when it cannot be read.
pid_t parentOf(pid_t pid);

/// Reads a whole file ("" when missing).
std::string readFile(const std::filesystem::path& path);

/// Writes `text` to `path`, replacing it.
void writeFile(const std::filesystem::path& path, const std::string& text);

/// XML property list helpers: wraps dictionary entries into a complete document.
std::string xmlPlist(const std::string& dictEntries);
/// A `<key>` followed by a `<string>`.
std::string xmlString(const std::string& key, const std::string& value);
/// A `<key>` followed by `<true/>` or `<false/>`.
std::string xmlBool(const std::string& key, bool value);
/// A `<key>` followed by an array of strings.
std::string xmlStrings(const std::string& key, const std::vector<std::string>& values);

/// Gives each test its own HOME and its own manager (for the systemd engine, a user manager of
/// its own), and boots out whatever the test left loaded, checking that nothing stays listed.
class LaunchctlHarness : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  /// The engine this test runs on.
  virtual Engine engine() const = 0;
  /// The environment that points the stand-in at this test's manager and engine.
  std::map<std::string, std::string> engineEnvironment() const;

  /// Runs the stand-in with this test's HOME.
  Result run(const std::vector<std::string>& args,
             std::map<std::string, std::string> extraEnv = {}) const;
  /// "gui/<uid>" for the caller.
  std::string domain() const;
  /// "gui/<uid>/<label>" for the caller.
  std::string service(const std::string& label) const;
  /// Writes an XML job with RunAtLoad plus `extra` entries under HOME and returns its path.
  std::string writeJob(const std::string& label, const std::vector<std::string>& arguments,
                       const std::string& extra = "") const;
  /// Writes a job of `label` with exactly `entries` besides its Label and bootstraps it,
  /// expecting success.
  void loadEntries(const std::string& label, const std::string& entries) const;
  /// Bootstraps a job written by writeJob, expecting success.
  void load(const std::string& label, const std::vector<std::string>& arguments,
            const std::string& extra = "") const;
  /// Runs `list`, checks its shape and returns its rows by label.
  std::map<std::string, ListRow> listRows() const;
  /// The row of `label`, or nullopt when it is not listed.
  std::optional<ListRow> rowOf(const std::string& label) const;
  /// The runs `print` shows for `label`, oldest first; none when print fails.
  morvane::Runs runsOf(const std::string& label) const;
  /// The pid of a running job, or 0 when it is not listed as running.
  pid_t pidOf(const std::string& label) const;
  /// Waits until `label` is listed as not running and returns its status.
  std::optional<int> waitForExit(const std::string& label) const;
  /// Boots out every listed job.
  void bootOutAll() const;

  std::filesystem::path home_;
  /// The systemd engine's user manager; null on the built-in engine.
  std::unique_ptr<morvane::testing::UserManagerSandbox> userManager_;
  /// Whether that manager has a journal (set before SetUp).
  bool withJournal_ = false;
};

/// A test that runs on both engines: the conformance suite.
class LaunchctlTest : public LaunchctlHarness, public ::testing::WithParamInterface<Engine> {
 protected:
  Engine engine() const override { return GetParam(); }
};

/// A test of the built-in engine's own machinery.
class BuiltinLaunchctlTest : public LaunchctlHarness {
 protected:
  Engine engine() const override { return Engine::builtin; }
};

/// A test of the systemd engine's own behaviour.
class SystemdLaunchctlTest : public LaunchctlHarness {
 protected:
  Engine engine() const override { return Engine::systemd; }
};

/// Runs a suite of LaunchctlTest cases on both engines, named by engine.
#define LAUNCHCTL_ON_BOTH_ENGINES(suite)                                                        \
  INSTANTIATE_TEST_SUITE_P(Engines, suite, ::testing::Values(Engine::builtin, Engine::systemd), \
                           engineTestName)

}  // namespace launchctl_test
