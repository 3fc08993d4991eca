#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "process.h"

namespace launchctl {

/// What the manager remembers about one loaded job.
struct JobRecord {
  std::string plistPath;      ///< The property list it was loaded from.
  ProcessId job;              ///< The running program, or pid 0 when it is not running.
  ProcessId supervisor;       ///< The process that started and waits for the program.
  int lastStatus = 0;         ///< Last exit code, or minus the signal number that ended it.
  unsigned exitTimeout = 5;   ///< Seconds between SIGTERM and SIGKILL on bootout; 0: never.
  bool beingRemoved = false;  ///< Set by bootout: the job is ended and the record removed.
  std::int64_t killAt = 0;  ///< When bootout's SIGKILL is due (seconds since the epoch); 0: never.
  std::uint64_t id = 0;     ///< Tells this load of the label apart from any other.
};

/// Everything the manager keeps in its state file.
struct State {
  std::map<std::string, bool> disabled;   ///< Overrides by label: true = disabled.
  std::map<std::string, JobRecord> jobs;  ///< Loaded jobs by label.
};

/// Reads `state.json` from `stateDir`; a missing file reads as an empty state. Throws, with a
/// one-line reason, for a file that exists but cannot be read or is not a well-typed state:
/// such a file is left for inspection and never saved over.
State loadState(const std::filesystem::path& stateDir);

/// A fresh id for a job record.
std::uint64_t newRecordId();

/// Replaces `state.json` in `stateDir` atomically (temporary file, fsync, rename), and removes
/// the temporary files of earlier saves that were killed.
void saveState(const std::filesystem::path& stateDir, const State& state);

}  // namespace launchctl
