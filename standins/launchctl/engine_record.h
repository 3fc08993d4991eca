#pragma once

#include <filesystem>
#include <optional>

namespace launchctl {

/// The engine that holds a user's loaded jobs, kept in the state directory where both engines
/// look, so that a run which cannot reach that engine never silently takes the other one.
struct EngineRecord {
  bool systemd = false;
  /// The manager's runtime directory (systemd only): it is found there again even when the
  /// caller's environment does not name it.
  std::filesystem::path runtimeDirectory;
};

/// The record in `stateDir`, or nullopt when there is none (or it is unreadable, which can only
/// happen when someone wrote it by hand: the jobs themselves then tell).
std::optional<EngineRecord> readEngineRecord(const std::filesystem::path& stateDir);

/// Replaces the record in `stateDir` atomically; throws, with one line, when that fails.
void writeEngineRecord(const std::filesystem::path& stateDir, const EngineRecord& record);

/// Whether the systemd manager of `runtimeDirectory` holds any job of ours: one has a job folder
/// from its load until its unload has ended (see SystemdEngine).
bool systemdHoldsJobs(const std::filesystem::path& runtimeDirectory);

}  // namespace launchctl
