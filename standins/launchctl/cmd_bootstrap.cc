#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "builtin_engine.h"
#include "calendar_bounds.h"
#include "commands.h"
#include "engines.h"
#include "job_config.h"
#include "runnable.h"
#include "state.h"
#include "state_dir.h"
#include "state_lock.h"
#include "target.h"
#include "usage.h"

namespace launchctl {
namespace {

/// Exit status (EIO) for every refusal a user domain gives without further detail.
constexpr int kRefused = 5;

/// Prints the refusal a user domain gives for a job it will not load and returns its status.
int refuse() {
  std::fputs(
      "Bootstrap failed: 5: Input/output error\n"
      "Try re-running the command as root for richer errors.\n",
      stderr);
  return kRefused;
}

/// Prints why the job in `path` cannot be run, in the same words on either engine, and returns
/// the refusal's status.
int refuseToRun(const std::string& path, const std::string& reason) {
  std::fprintf(stderr, "%s: %s\nBootstrap failed: %d: Input/output error\n", path.c_str(),
               reason.c_str(), kRefused);
  return kRefused;
}

/// Prints why `path` could not be read and returns the errno as the exit status.
int unreadable(const std::string& path, int error) {
  std::fprintf(stderr, "%s: %s\nBootstrap failed: %d: %s\n", path.c_str(), std::strerror(error),
               error, std::strerror(error));
  return error;
}

/// Loads the job described by the property list at `path`; returns the exit status.
int bootstrapOne(Engines& engines, const std::string& path) {
  std::string data;
  if (const int error = readWholeFile(path, data); error != 0) {
    return unreadable(path, error);
  }
  std::optional<JobConfig> config = parseJobConfig(data);
  if (!config) {
    return refuse();
  }
  if (const std::optional<std::string> reason = whyNotRunnable(*config)) {
    return refuseToRun(path, *reason);
  }
  const BoundedCalendar calendar = boundCalendar(config->calendar);
  config->calendar = calendar.entries;
  const std::filesystem::path dir = stateDirectory();
  const StateLock lock(dir);
  State state = loadState(dir);
  if (builtin::forgetAbandonedJobs(state)) {
    saveState(dir, state);
  }
  const auto overrideEntry = state.disabled.find(config->label);
  // Loaded by either engine counts: no job ever runs twice.
  if (state.jobs.contains(config->label) ||
      (overrideEntry != state.disabled.end() && overrideEntry->second) ||
      (engines.systemd && engines.systemd->isLoaded(config->label))) {
    return refuse();
  }
  if (engines.systemdLoadsJobs) {
    engines.systemd->load(*config, path);
  } else if (!builtin::load(state, *config, path, dir)) {
    return refuse();
  }
  engines.record(dir);
  for (const CalendarEntry& entry : calendar.neverFire) {
    noteInJobLog(*config,
                 "launchctl: " + config->label + ": the StartCalendarInterval entry " +
                     describeEntry(entry) + " can never fire; it is left out",
                 stderr);
  }
  return 0;
}

}  // namespace

int runBootstrap(const Subcommand& self, Args args) {
  if (args.size() < 2) {
    return usageError(self.usage);
  }
  if (const auto domain = resolveDomain(args[0], self.usage); !domain) {
    return domain.error();
  }
  Engines engines = chooseEngines();
  for (const std::string& path : args.subspan(1)) {
    if (const int status = bootstrapOne(engines, path); status != 0) {
      return status;
    }
  }
  return 0;
}

}  // namespace launchctl
