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
  /// The status of a child that another party reaped (this process ignoring SIGCHLD).
  static constexpr int32_t kStatusLost = -1;

  /// The exit code; the signal number when a signal ended the child; 127 when it could not
  /// start; kStatusLost when its status could not be collected.
  int32_t status = 0;
  /// Everything written to standard output, as UTF-8 with invalid bytes replaced by U+FFFD.
  std::string standardOutput;
  /// The same for standard error; for a child that could not start, "path: reason".
  std::string standardError;
  /// Whether the child was still running at the time limit and had to be stopped.
  bool timedOut = false;

  /// True exactly when the status is 0.
  bool ok() const { return status == 0; }

  /// The trimmed standard error, or the trimmed standard output when that is blank.
  std::string message() const;
};

namespace Shell {

/// Variables added to (and replacing those of) the parent's environment for one child.
using Environment = std::map<std::string, std::string>;

/// Seconds between the SIGTERM at the time limit and the SIGKILL that follows it.
inline constexpr double kKillGrace = 3;

/// Runs `executable` (an absolute path, never searched for) with `arguments` and waits until it
/// has ended and closed both output streams.
///
/// Standard input is the null device. The child leads a process group of its own: when it is
/// still running after `timeout` seconds, the group is sent SIGTERM once, and SIGKILL if the
/// child is still running `killGrace` seconds later, so what it started goes with it (processes
/// that left the group, such as detached jobs, are not touched). Output streams that outlive the
/// child (held by a process it left behind) are read until the time limit and then abandoned.
/// So a run ends by `timeout` + `killGrace`, whatever the child does. Never fails: a child that
/// cannot start gives status 127.
ShellResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                double timeout, const Environment& environment = {}, double killGrace = kKillGrace);

/// Quotes text for a POSIX shell: wrapped in apostrophes, each apostrophe written as '\''.
std::string quote(std::string_view text);

}  // namespace Shell
}  // namespace morvane
