#pragma once

// What both engines share: the rows of `list` and the outcomes of bootout.

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace launchctl {

/// Exit status of bootout for a label that is not loaded (ESRCH).
inline constexpr int kNotLoaded = 3;
/// Exit status of bootout when the job has not ended within its patience (EINPROGRESS).
inline constexpr int kStillStopping = 36;

/// How long bootout waits for a job to end before it reports what it is waiting for; well
/// inside the time limit callers give one launchctl run.
inline constexpr std::chrono::seconds kBootoutPatience(10);

/// One row of `list`: a loaded job, its running program and its last exit status.
struct ListedJob {
  std::string label;
  std::optional<pid_t> pid;  ///< Absent when the job is not running.
  int lastStatus = 0;        ///< Exit code, or minus the signal that ended it.
};

/// Prints bootout's refusal for a job that is still stopping, naming what it waits for:
/// its pid, and when SIGKILL comes (`killIn`; absent when the job is never killed).
void printStillStopping(const std::string& label, pid_t pid,
                        std::optional<std::chrono::seconds> killIn);

}  // namespace launchctl
