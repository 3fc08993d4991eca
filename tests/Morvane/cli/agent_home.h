#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "shell.h"
#include "test_support.h"

namespace morvane::testing {

/// What one command-line mode printed and returned.
struct Printed {
  int32_t status = -1;
  std::string text;
  /// What it said on its error stream.
  std::string errors;
};

/// Runs a mode on a fresh stream.
Printed printed(const std::function<int32_t(std::ostream&)>& mode);

/// Runs a mode on fresh output and error streams.
Printed printed(const std::function<int32_t(std::ostream&, std::ostream&)>& mode);

/// A home of its own for each test: ~/Library/LaunchAgents, a data directory, the bundled
/// service manager with its state under this home, and English texts. Every job still loaded
/// at the end is booted out.
class AgentHome : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path agents() const { return home_ / "Library/LaunchAgents"; }

  /// Writes an agent's property list that runs `arguments` when loaded; `strings` adds keys
  /// with text values, such as "StandardOutPath".
  std::filesystem::path writeAgent(const std::string& file, const std::string& label,
                                   const std::vector<std::string>& arguments,
                                   const std::map<std::string, std::string>& strings = {});

  /// Writes settings.json into the data directory.
  void writeSettings(const std::string& json);

  /// Runs the bundled launchctl with these arguments.
  ShellResult launchctl(const std::vector<std::string>& arguments);

  /// The process id `launchctl list` shows for a label; absent when it shows none.
  std::optional<int64_t> pidOf(const std::string& label);

  /// Waits until the label is listed with no process and this last exit status.
  void waitForExit(const std::string& label, int64_t status);

  TempDir home_;
  ScopedEnv homeVariable_{"HOME", home_.path().string()};
  ScopedEnv dataVariable_{"MORVANE_HOME", (home_ / "data").string()};
  ScopedEnv language_{"MORVANE_LANG", "en"};
};

/// A job that sleeps for five minutes.
inline const std::vector<std::string> kSleeper = {"/bin/sleep", "300"};

}  // namespace morvane::testing
