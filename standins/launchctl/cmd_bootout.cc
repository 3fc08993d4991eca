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
std::optional<JobRecord> MarkForRemoval(const std::filesystem::path& dir,
                                        const std::string& label) {
  const StateLock lock(dir);
  State state = LoadState(dir);
  const auto found = state.jobs.find(label);
  if (found == state.jobs.end()) {
    return std::nullopt;
  }
  found->second.being_removed = true;
  SaveState(dir, state);
  return found->second;
}

/// Ends the job's program and waits until its supervisor has reaped it, recorded the exit and
/// gone. A job whose supervisor has died only needs its program to stop running.
void Stop(const JobRecord& record) {
  const ProcessId job = record.job;
  const ProcessId supervisor = record.supervisor;
  const auto finished = [&] { return !IsRunning(job) && !IsRunning(supervisor); };
  if (IsRunning(job)) {
    kill(job.pid, SIGTERM);
  }
  if (WaitUntil(finished, std::chrono::seconds(record.exit_timeout))) {
    return;
  }
  if (IsRunning(job)) {
    kill(-job.pid, SIGKILL);
    kill(job.pid, SIGKILL);
  }
  WaitUntil(finished, kKillGrace);
}

/// Forgets the job.
void Unload(const std::filesystem::path& dir, const std::string& label) {
  const StateLock lock(dir);
  State state = LoadState(dir);
  state.jobs.erase(label);
  SaveState(dir, state);
}

}  // namespace

int RunBootout(const Subcommand& self, Args args) {
  if (args.size() != 1) {
    return UsageError(self.usage);
  }
  const auto label = ResolveService(args[0], self.usage);
  if (!label) {
    return label.error();
  }
  const std::filesystem::path dir = StateDirectory();
  const std::optional<JobRecord> record = MarkForRemoval(dir, *label);
  if (!record) {
    std::fputs("Boot-out failed: 3: No such process\n", stderr);
    return 3;
  }
  Stop(*record);
  Unload(dir, *label);
  return 0;
}

}  // namespace launchctl
