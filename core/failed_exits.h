#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "agents.h"

namespace morvane {

/// How a loaded agent that is not running last ended, when that was not a clean exit.
struct FailedExit {
  /// The status `launchctl list` shows: the exit code, or minus the number of the signal.
  int64_t status = 0;
  /// The last line of the agent's error log; absent when it names none, or the log is missing,
  /// unreadable or blank at its end.
  std::optional<std::string> lastErrorLine;

  friend bool operator==(const FailedExit&, const FailedExit&) = default;
};

/// Failed exits by agent label.
using FailedExits = std::map<std::string, FailedExit>;

/// The last line of the agent's error log, trimmed; absent when it names none, or the log is
/// missing, unreadable or blank at its end.
std::optional<std::string> lastErrorLine(const Agent& agent);

/// The agents of a scan that are loaded, not running, and last exited with a status other
/// than 0, with the last line of each one's error log.
FailedExits failedExits(const Agents::ScannedAgents& scan);

}  // namespace morvane
