#pragma once

#include <sys/types.h>

#include <filesystem>

#include "job_config.h"

namespace launchctl {

/// The supervisor's life after its report (see supervision.cc), in the supervisor program:
/// supervises `job` (the program it started, 0 when none runs yet, negative when it could not be
/// forked) until it is unloaded or has nothing left to do. Never returns.
[[noreturn]] void supervise(const JobConfig& config, const std::filesystem::path& stateDir,
                            pid_t job);

}  // namespace launchctl
