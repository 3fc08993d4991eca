#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "connection.h"
#include "engine.h"
#include "job_config.h"
#include "run_history.h"

namespace launchctl {

/// The systemd engine: every loaded job is a service unit of the user's systemd manager, named
/// for its label (see agent_units.h), with a timer unit beside it when it starts on a schedule.
/// The unit files live in $XDG_RUNTIME_DIR/systemd/user, so they are gone at logout as
/// launchd's loaded state is: a job is loaded while its unit file exists, or while its unit is
/// still stopping after bootout.
class SystemdEngine {
 public:
  /// `stateDirectory` holds the lock that serialises launchctl runs (state_lock.h).
  SystemdEngine(user_manager::Connection connection, std::filesystem::path stateDirectory);

  /// The manager's runtime directory.
  const std::filesystem::path& runtimeDirectory() const { return connection_.runtimeDirectory(); }

  /// The loaded jobs, as `list` shows them.
  std::vector<ListedJob> jobs();

  /// Whether `label` is loaded.
  bool isLoaded(const std::string& label);

  /// The last runs of the loaded job `label`, oldest first, the one under way last: the ended
  /// ones as its unit's hooks recorded them in `runRecords` (the manager keeps only the last),
  /// the one under way from its start hook, else from the manager.
  morvane::Runs runs(const std::string& label, const std::filesystem::path& runRecords);

  /// When the timer of the loaded job `label` next starts it, in seconds since the epoch (its
  /// next elapse, on the calendar or the interval, whichever comes first); nullopt when it has
  /// no timer or the timer will not elapse again.
  std::optional<std::time_t> nextRun(const std::string& label);

  /// Writes the job's units and starts what starts at load. When the manager fails on the way,
  /// the units are removed again and the ManagerError goes on to the caller.
  void load(const JobConfig& config, const std::string& plistPath);

  /// Stops and unloads `label`, waiting at most `patience`: 0, kNotLoaded, or kStillStopping
  /// (having printed what it is waiting for; the manager sends SIGKILL when the exit timeout
  /// passes, whoever waits).
  int unload(const std::string& label, std::chrono::milliseconds patience);

  /// Installs and enables the login unit (login_unit.h) unless it is there already; when its
  /// file cannot be written, says so in one line on standard error and goes on.
  void ensureLoginUnit();

 private:
  std::filesystem::path unitDirectory() const;
  std::filesystem::path jobFolder(const std::string& serviceName) const;
  void removeUnits(const std::string& label);

  user_manager::Connection connection_;
  std::filesystem::path stateDirectory_;
};

}  // namespace launchctl
