#pragma once

#include <filesystem>

#include "job_config.h"

namespace launchctl {

/// The supervisor's whole life (see supervision.cc), in the process the supervisor program runs
/// as: it finds its report pipe at kReportFd (supervisor.h), starts the job when it starts at
/// load, reports, and supervises it until it is unloaded or has nothing left to do. Never
/// returns.
[[noreturn]] void supervise(const JobConfig& config, const std::filesystem::path& stateDir);

}  // namespace launchctl
