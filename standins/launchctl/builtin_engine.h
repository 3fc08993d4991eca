#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"
#include "job_config.h"
#include "state.h"

// The built-in engine: jobs supervised by launchctl itself, recorded in the state directory.
namespace launchctl::builtin {

/// Forgets the records whose supervisor died (killed, or its session ended) while their program
/// is not running either: such a job is no longer loaded, as every job is after a restart.
/// Returns whether any was forgotten (the caller saves the state then).
bool forgetAbandonedJobs(State& state);

/// Whether `state` holds a job that is still loaded (one forgetAbandonedJobs would keep).
bool holdsLoadedJob(const State& state);

/// The jobs the state records, as `list` shows them, having forgotten the abandoned ones as
/// forgetAbandonedJobs does; `forgot` says whether any was (the caller saves the state then).
std::vector<ListedJob> listJobs(State& state, bool& forgot);

/// Loads `config` into `state` (the caller holds the state lock and saves nothing itself),
/// starting a supervisor when the job runs at load or on a schedule, and saves the state.
/// Returns false when the job could not be started.
bool load(State& state, const JobConfig& config, const std::string& plistPath,
          const std::filesystem::path& stateDir);

/// Ends and unloads the job `label`: its supervisor sends SIGTERM and, when the exit timeout
/// passes, SIGKILL. Waits at most `patience`; returns 0 once the job is gone, kNotLoaded when
/// the state holds no such job, or kStillStopping (having printed what it is waiting for).
int unload(const std::filesystem::path& stateDir, const std::string& label,
           std::chrono::milliseconds patience);

}  // namespace launchctl::builtin
