#include <signal.h>

#include <cstdio>
#include <optional>

#include "commands.h"
#include "state.h"
#include "state_dir.h"
#include "state_lock.h"
#include "target.h"
#include "usage.h"

namespace launchctl {
namespace {

/// How long bootout waits after SIGKILL before it unloads the job regardless.
constexpr std::chrono::seconds kKillGrace(5);

/// Marks the job as being removed and returns its record, or nullopt when it is not loaded.
std::optional<JobRecord> markForRemoval(const std::filesystem::path& dir,
                                        const std::string& label) {
  const StateLock lock(dir);
  State state = loadState(dir);
  const auto found = state.jobs.find(label);
  if (found == state.jobs.end()) {
    return std::nullopt;
  }
  found->second.beingRemoved = true;
  saveState(dir, state);
  return found->second;
}

/// Ends the job's program and waits until its supervisor has reaped it, recorded the exit and
/// gone. A job whose supervisor has died only needs its program to stop running.
void stop(const JobRecord& record) {
  const ProcessId job = record.job;
  const ProcessId supervisor = record.supervisor;
  const auto finished = [&] { return !isRunning(job) && !isRunning(supervisor); };
  if (isRunning(job)) {
    kill(job.pid, SIGTERM);
  }
  if (waitUntil(finished, std::chrono::seconds(record.exitTimeout))) {
    return;
  }
  if (isRunning(job)) {
    kill(-job.pid, SIGKILL);
    kill(job.pid, SIGKILL);
  }
  waitUntil(finished, kKillGrace);
}

/// Forgets the job, if the label still holds the load that was stopped: another bootout may
/// have removed it meanwhile and a bootstrap loaded the label afresh.
void unload(const std::filesystem::path& dir, const std::string& label, const JobRecord& stopped) {
  const StateLock lock(dir);
  State state = loadState(dir);
  const auto found = state.jobs.find(label);
  if (found == state.jobs.end() || found->second.id != stopped.id) {
    return;
  }
  state.jobs.erase(found);
  saveState(dir, state);
}

}  // namespace

int runBootout(const Subcommand& self, Args args) {
  const auto label = serviceArgument(args, self.usage);
  if (!label) {
    return label.error();
  }
  const std::filesystem::path dir = stateDirectory();
  const std::optional<JobRecord> record = markForRemoval(dir, *label);
  if (!record) {
    std::fputs("Boot-out failed: 3: No such process\n", stderr);
    return 3;
  }
  stop(*record);
  unload(dir, *label, *record);
  return 0;
}

}  // namespace launchctl
