#include <signal.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "commands.h"
#include "job_config.h"
#include "state.h"
#include "state_dir.h"
#include "state_lock.h"
#include "supervisor.h"
#include "target.h"
#include "usage.h"

namespace launchctl {
namespace {

/// Exit status (EIO) for every refusal a user domain gives without further detail.
constexpr int kRefused = 5;

/// Prints the refusal a user domain gives for a job it will not load and returns its status.
int Refuse() {
  std::fputs(
      "Bootstrap failed: 5: Input/output error\n"
      "Try re-running the command as root for richer errors.\n",
      stderr);
  return kRefused;
}

/// Prints why `path` could not be read and returns the errno as the exit status.
int Unreadable(const std::string& path, int error) {
  std::fprintf(stderr, "%s: %s\nBootstrap failed: %d: %s\n", path.c_str(), std::strerror(error),
               error, std::strerror(error));
  return error;
}

/// Builds the record of a newly loaded job, starting it when it runs at load.
std::optional<JobRecord> Load(const JobConfig& config, const std::string& path,
                              const std::filesystem::path& dir) {
  JobRecord record;
  std::error_code ignored;
  record.plist_path = std::filesystem::absolute(path, ignored).string();
  record.exit_timeout = config.exit_timeout;
  // A job that is to be kept alive is started right away, as with RunAtLoad.
  if (config.run_at_load || config.keep_alive) {
    const std::optional<SupervisorReport> report = StartSupervisor(config, dir);
    if (!report) {
      return std::nullopt;
    }
    record.supervisor = report->supervisor;
    record.job = report->job;
  }
  return record;
}

/// Loads the job described by the property list at `path`; returns the exit status.
int BootstrapOne(const std::string& path) {
  std::string data;
  if (const int error = ReadWholeFile(path, data); error != 0) {
    return Unreadable(path, error);
  }
  const std::optional<JobConfig> config = ParseJobConfig(data);
  if (!config) {
    return Refuse();
  }
  const std::filesystem::path dir = StateDirectory();
  const StateLock lock(dir);
  State state = LoadState(dir);
  const auto override_entry = state.disabled.find(config->label);
  if (state.jobs.contains(config->label) ||
      (override_entry != state.disabled.end() && override_entry->second)) {
    return Refuse();
  }
  const std::optional<JobRecord> record = Load(*config, path, dir);
  if (!record) {
    return Refuse();
  }
  state.jobs[config->label] = *record;
  try {
    SaveState(dir, state);
  } catch (...) {
    // An unrecorded job could never be booted out; end it (its supervisor then finds no
    // record and leaves).
    if (IsRunning(record->job)) {
      kill(record->job.pid, SIGKILL);
    }
    throw;
  }
  return 0;
}

}  // namespace

int RunBootstrap(const Subcommand& self, Args args) {
  if (args.size() < 2) {
    return UsageError(self.usage);
  }
  if (const auto domain = ResolveDomain(args[0], self.usage); !domain) {
    return domain.error();
  }
  for (const std::string& path : args.subspan(1)) {
    if (const int status = BootstrapOne(path); status != 0) {
      return status;
    }
  }
  return 0;
}

}  // namespace launchctl
