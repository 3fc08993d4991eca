#pragma once

#include <signal.h>

#include <filesystem>
#include <optional>

#include "job_config.h"
#include "process.h"

namespace launchctl {

/// The supervisor program, in the same folder as launchctl.
inline constexpr const char* kSupervisorProgram = "launchctl-supervisor";
/// Where the supervisor program finds its job, as encodeJobConfig wrote it (job_config_codec.h).
inline constexpr int kConfigFd = 3;

/// The signals a supervisor waits for, blocked from its start: a child's exit and bootout's
/// wake-up call.
inline sigset_t supervisorSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGCHLD);
  sigaddset(&set, SIGUSR1);
  return set;
}

/// What a new supervisor reports once it has started its job.
struct SupervisorReport {
  ProcessId supervisor;
  ProcessId job;  ///< pid 0 when the program could not even be forked.
};

/// Whether a job needs a supervisor: it starts at load or on a schedule. Any other job only sits
/// loaded until bootout.
bool needsSupervisor(const JobConfig& config);

/// Starts a detached supervisor for `config` (double fork, new session, no inherited descriptors,
/// the supervisor program run afresh) and returns once it has started the job's program (when it
/// starts at load). The caller must hold the state lock and record the report before releasing
/// it; the supervisor takes the lock itself afterwards to record exits and restarts. Returns
/// nullopt when no supervisor could be started.
std::optional<SupervisorReport> startSupervisor(const JobConfig& config,
                                                const std::filesystem::path& stateDir);

}  // namespace launchctl
