#pragma once

#include <sys/types.h>

#include "job_config.h"

namespace launchctl {

/// Exit status of a job whose program could not be set up or executed (EX_CONFIG).
inline constexpr int kExitCannotRun = 78;

/// Forks and executes the job's program in a session of its own: standard input from its path
/// (or /dev/null), outputs appended to its paths (or /dev/null), its umask, working directory and
/// nice value, and the invoker's environment plus its EnvironmentVariables. A child that cannot
/// set these up exits with kExitCannotRun. Returns the pid, or -1 if fork failed.
pid_t launchJob(const JobConfig& config);

}  // namespace launchctl
