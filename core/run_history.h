#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"

namespace morvane {

/// Why a run of a job started, where the service manager knows it.
enum class RunCause : uint8_t { unknown, load, keepAlive, interval, calendar };

/// One run of a loaded job: when it started and ended, and how it ended.
struct Run {
  /// Microseconds since the epoch; absent when the manager did not learn it.
  std::optional<int64_t> started;
  /// Microseconds since the epoch; absent while it runs.
  std::optional<int64_t> ended;
  /// How it ended, as `launchctl list` shows it: the exit code, or minus the signal's number.
  /// Absent while it runs.
  std::optional<int64_t> status;
  RunCause cause = RunCause::unknown;
  /// Whether it was ended by its unload (bootout), not by itself.
  bool unloaded = false;

  /// Whether it ended by itself, and not with exit code 0.
  bool failed() const { return ended && status && *status != 0 && !unloaded; }

  friend bool operator==(const Run&, const Run&) = default;
};

/// A job's runs, oldest first.
using Runs = std::vector<Run>;

/// How many runs of each job the service manager keeps.
inline constexpr size_t kKeptRuns = 20;

/// One run as a line of a run record (without its line break): the start and the end as seconds
/// since the epoch with six decimals ("-" when unknown), how it ended ("exited 3", "killed TERM",
/// "- -" while it runs) and why it started ("load", "keepalive", "interval", "calendar", "-"),
/// followed by "unloaded" for a run its unload ended.
std::string runLine(const Run& run);

/// Reads one line of a run record; absent when it is not one. The start and the end take any
/// number of decimals (`date +%s.%N` gives nine), a signal is its name without "SIG" or its
/// number, and "dumped" reads as "killed".
std::optional<Run> parseRunLine(std::string_view line);

/// Reads a run record: one run per line, oldest first. Lines that are no runs are skipped, so a
/// record cut short by a crash still gives the runs before the cut.
Runs parseRuns(std::string_view text);

/// The record of the last kKeptRuns of `runs`.
std::string runsText(const Runs& runs);

/// The name of a label's run record in the folder that holds them: the label escaped as a unit
/// name is (see agent_units.h), so any label gives a file name of its own.
std::string runRecordName(std::string_view label);

namespace Agents {

/// The runs `launchctl print` shows for the loaded agent `label`, oldest first. Fails, with
/// launchctl's reason, when it is not loaded or launchctl fails.
Result<Runs> recentRuns(const std::string& label, double timeout);

/// Reads the runs from what `launchctl print` prints for one service: the lines of its
/// "run history" block. Absent when the text holds no such block.
std::optional<Runs> parsePrintedRuns(std::string_view text);

}  // namespace Agents

}  // namespace morvane
