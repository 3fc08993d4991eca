#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "failure.h"
#include "run_history.h"

namespace morvane::Agents {

/// What `launchctl print` tells of one loaded agent.
struct PrintedJob {
  /// Its last runs, oldest first.
  Runs runs;
  /// When the service manager will next start it on its schedule, where the manager tells
  /// (a systemd timer's next elapse); absent where it does not.
  std::optional<std::time_t> nextRun;
};

/// Runs `launchctl print` for the loaded agent `label`. Fails, with launchctl's reason, when it
/// is not loaded or launchctl fails.
Result<PrintedJob> printedJob(const std::string& label, double timeout);

/// Reads a service's "next run = <seconds since the epoch>" line from what `launchctl print`
/// prints; absent when there is none or it holds no such number.
std::optional<std::time_t> parsePrintedNextRun(std::string_view text);

/// The line of `text` that starts at `at`, without its newline; moves `at` past it.
std::string_view takeLine(std::string_view text, size_t& at);

}  // namespace morvane::Agents
