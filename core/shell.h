#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace morvane {

/// What one run of an outside program gave.
///
/// The streams are named standardOutput and standardError because the C library reserves the
/// short names as macros.
struct ShellResult {
  /// The exit code; the signal number when a signal ended the child; 127 when it could not start.
  int32_t status = 0;
  /// Everything written to standard output, as UTF-8 with invalid bytes replaced by U+FFFD.
  std::string standardOutput;
  /// The same for standard error; for a child that could not start, "path: reason".
  std::string standardError;

  /// True exactly when the status is 0.
  bool ok() const { return status == 0; }

  /// The trimmed standard error, or the trimmed standard output when that is blank.
  std::string message() const;
};

namespace Shell {

/// Variables added to (and replacing those of) the parent's environment for one child.
using Environment = std::map<std::string, std::string>;

/// Runs `executable` (an absolute path, never searched for) with `arguments` and waits until it
/// has ended and closed both output streams.
///
/// Standard input is the null device. A child still running after `timeout` seconds is sent
/// SIGTERM once. Never fails: a child that cannot start gives status 127.
ShellResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                double timeout, const Environment& environment = {});

/// Quotes text for a POSIX shell: wrapped in apostrophes, each apostrophe written as '\''.
std::string quote(std::string_view text);

}  // namespace Shell
}  // namespace morvane
