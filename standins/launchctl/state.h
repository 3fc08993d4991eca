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
  unsigned exitTimeout = 5;   ///< Seconds between SIGTERM and SIGKILL on bootout.
  bool beingRemoved = false;  ///< Set by bootout so the supervisor does not start it again.
};

/// Everything the manager keeps in its state file.
struct State {
  std::map<std::string, bool> disabled;   ///< Overrides by label: true = disabled.
  std::map<std::string, JobRecord> jobs;  ///< Loaded jobs by label.
};

/// Reads `state.json` from `stateDir`; a missing or unreadable file reads as an empty state.
State loadState(const std::filesystem::path& stateDir);

/// Replaces `state.json` in `stateDir` atomically (temporary file, fsync, rename).
void saveState(const std::filesystem::path& stateDir, const State& state);

}  // namespace launchctl
