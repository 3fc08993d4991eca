#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>

#include "job_config.h"

namespace launchctl {

/// The supervisor's life after its report (see supervision.cc), in the supervisor program:
/// supervises `job` (the program it started, 0 when none runs yet, negative when it could not be
/// forked) until it is unloaded or has nothing left to do. `loadStart` is when `job` started at
/// load (microseconds since the epoch), a run it records first; none when it did not. Never
/// returns.
[[noreturn]] void supervise(const JobConfig& config, const std::filesystem::path& stateDir,
                            pid_t job, std::optional<int64_t> loadStart);

}  // namespace launchctl
