#pragma once

// An installed copy of a released version, with a data directory and an update server of its
// own, for tests that update it as a user would.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "local_server.h"
#include "releases.h"
#include "shell.h"
#include "test_support.h"

namespace morvane::testing {

/// Polls `done` until it holds or `limit` has passed; gives whether it held.
bool eventually(const std::function<bool()>& done, std::chrono::seconds limit);

/// The CFBundleShortVersionString of a bundle.
std::string versionOf(const std::filesystem::path& app);

/// Starts a program in a process group of its own, with this process's environment; this
/// process is its parent and must reap it.
pid_t startProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments);

/// The menu-bar application's instances running from the bundle at `app`.
std::vector<pid_t> instancesOf(const std::filesystem::path& app);

/// Version 1.0.0 installed in a folder of the test's own, a data directory and an update server.
class InstalledCopy : public ::testing::Test {
 protected:
  /// Ends the programs the test started and left running, and the instances of `app_`.
  void TearDown() override;

  /// Starts `program` like startProgram; the test reaps it, or it is ended with the test.
  pid_t startChild(const std::filesystem::path& program);

  /// Publishes `package` with the latest.json scripts/release wrote for it.
  void publish(const Package& package);

  /// Publishes `package` as the newest release `version`, signed with the release key.
  void publish(const std::string& version, const Package& package);

  /// Unpacks a release zip into `folder`, as a user installs it; gives the bundle's path.
  std::filesystem::path install(const Package& package, const std::filesystem::path& folder);

  /// Runs the installed program with `arguments` against the update server.
  ShellResult run(const std::filesystem::path& app, std::vector<std::string> arguments,
                  const std::string& language = "en", const std::string& origin = "");

  /// What run() adds to the environment: the data directory, the language, the update server.
  Shell::Environment environment(const std::string& language = "en",
                                 const std::string& origin = "") const;

  /// Waits until no copy of the menu-bar application runs on this machine: a copy started
  /// while another runs leaves at once.
  ::testing::AssertionResult noInstanceRuns();

  /// Asks the instances running from `app_` to quit and waits until they are gone.
  void stopInstances();

  std::string log() const;

  std::vector<pid_t> children_;
  TempDir dir_;
  std::filesystem::path home_ = dir_ / "data";
  LocalServer server_;
  Package old_ = makeRelease("1.0.0", dir_ / "releases");
  std::filesystem::path app_ = install(old_, dir_ / "Applications");
};

}  // namespace morvane::testing
