#include "builtin_engine.h"

#include <signal.h>

#include <algorithm>
#include <ctime>
#include <thread>

#include "run_record.h"
#include "state_lock.h"
#include "supervisor.h"

namespace launchctl::builtin {
namespace {

/// How long an unload whose supervisor is gone waits after its own SIGKILL.
constexpr std::chrono::seconds kKillGrace(5);

/// What `list` makes of a record, from at most two reads of /proc: its program's, and its
/// supervisor's only when the program is not running (a record whose program runs stays loaded
/// whatever became of its supervisor, and shows the program).
struct RecordLiveness {
  bool abandoned = false;  ///< Its supervisor died and its program is not running either.
  bool showsRunning = false;
};

RecordLiveness recordLiveness(const JobRecord& record) {
  const Liveness job = livenessOf(record.job);
  if (job == Liveness::running) {
    return {false, true};
  }
  if (record.supervisor.pid == 0) {
    return {};  // a supervisor that left of its own accord: loaded, nothing runs
  }
  // A job counts as running until its supervisor has recorded its exit. Pid and start time
  // together tell a reused pid apart.
  const bool supervised = isRunning(record.supervisor);
  return {!supervised, supervised && job == Liveness::exited};
}

/// Marks the job as being removed (keeping the SIGKILL time of an earlier bootout) and returns
/// its record, or nullopt when it is not loaded.
std::optional<JobRecord> markForRemoval(const std::filesystem::path& dir,
                                        const std::string& label) {
  const StateLock lock(dir);
  State state = loadState(dir);
  if (forgetAbandonedJobs(state)) {
    saveState(dir, state);
  }
  const auto found = state.jobs.find(label);
  if (found == state.jobs.end()) {
    return std::nullopt;
  }
  JobRecord& record = found->second;
  if (!record.beingRemoved) {
    record.beingRemoved = true;
    record.killAt = record.exitTimeout == 0 ? 0 : std::time(nullptr) + record.exitTimeout;
    saveState(dir, state);
  }
  return record;
}

/// The current record of the load `id` of `label`, or nullopt once it is gone.
std::optional<JobRecord> currentRecord(const std::filesystem::path& dir, const std::string& label,
                                       std::uint64_t id) {
  const StateLock lock(dir);
  const State state = loadState(dir);
  const auto found = state.jobs.find(label);
  if (found == state.jobs.end() || found->second.id != id) {
    return std::nullopt;
  }
  return found->second;
}

/// Forgets the job, if the label still holds the load that was stopped: another bootout may
/// have removed it meanwhile and a bootstrap loaded the label afresh.
void forget(const std::filesystem::path& dir, const std::string& label, std::uint64_t id) {
  const StateLock lock(dir);
  State state = loadState(dir);
  const auto found = state.jobs.find(label);
  if (found == state.jobs.end() || found->second.id != id) {
    return;
  }
  state.jobs.erase(found);
  saveState(dir, state);
}

/// Ends a job whose supervisor is gone: SIGTERM, SIGKILL once its time has come, and the record
/// forgotten once the program no longer runs. Returns false when it is still running at
/// `deadline`.
bool endWithoutSupervisor(const std::filesystem::path& dir, const std::string& label,
                          const JobRecord& record, std::chrono::steady_clock::time_point deadline) {
  const ProcessId job = record.job;
  if (isRunning(job)) {
    kill(job.pid, SIGTERM);
  }
  const auto stopped = [&] { return !isRunning(job); };
  for (;;) {
    const bool killDue = record.killAt != 0 && std::time(nullptr) >= record.killAt;
    if (killDue && isRunning(job)) {
      kill(-job.pid, SIGKILL);
      kill(job.pid, SIGKILL);
      waitUntil(stopped, kKillGrace);
    }
    if (stopped()) {
      forget(dir, label, record.id);
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    waitUntil(stopped, std::chrono::milliseconds(100));
  }
}

}  // namespace

bool forgetAbandonedJobs(State& state) {
  return std::erase_if(state.jobs, [](const auto& entry) {
           return recordLiveness(entry.second).abandoned;
         }) > 0;
}

bool holdsLoadedJob(const State& state) {
  return std::ranges::any_of(
      state.jobs, [](const auto& entry) { return !recordLiveness(entry.second).abandoned; });
}

std::vector<ListedJob> listJobs(State& state, bool& forgot) {
  std::vector<ListedJob> jobs;
  forgot = false;
  for (auto entry = state.jobs.begin(); entry != state.jobs.end();) {
    const auto& [label, record] = *entry;
    const RecordLiveness liveness = recordLiveness(record);
    if (liveness.abandoned) {
      entry = state.jobs.erase(entry);
      forgot = true;
      continue;
    }
    ListedJob job{label, std::nullopt, record.lastStatus};
    if (liveness.showsRunning) {
      job.pid = record.job.pid;
    }
    jobs.push_back(std::move(job));
    ++entry;
  }
  return jobs;
}

bool load(State& state, const JobConfig& config, const std::string& plistPath,
          const std::filesystem::path& stateDir) {
  JobRecord record;
  record.id = newRecordId();
  std::error_code ignored;
  record.plistPath = std::filesystem::absolute(plistPath, ignored).string();
  record.exitTimeout = config.exitTimeout;
  try {
    prepareRunRecordFolder(stateDir);
  } catch (const std::exception&) {
    // The job's runs go unrecorded then, as its supervisor finds; the job itself loads.
  }
  if (needsSupervisor(config)) {
    const std::optional<SupervisorReport> report = startSupervisor(config, stateDir);
    if (!report) {
      return false;
    }
    record.supervisor = report->supervisor;
    record.job = report->job;
  }
  state.jobs[config.label] = record;
  try {
    saveState(stateDir, state);
  } catch (...) {
    // An unrecorded job could never be booted out; end it (its supervisor then finds no
    // record and leaves).
    if (isRunning(record.job)) {
      kill(record.job.pid, SIGKILL);
    }
    throw;
  }
  return true;
}

int unload(const std::filesystem::path& stateDir, const std::string& label,
           std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  const std::optional<JobRecord> marked = markForRemoval(stateDir, label);
  if (!marked) {
    return kNotLoaded;
  }
  if (isRunning(marked->supervisor)) {
    kill(marked->supervisor.pid, SIGUSR1);
  }
  std::optional<JobRecord> record = marked;
  while (record) {
    if (!isRunning(record->supervisor)) {
      if (endWithoutSupervisor(stateDir, label, *record, deadline)) {
        return 0;
      }
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      break;
    }
    // Once the job has ended, its supervisor forgets the record and leaves: watch it closely.
    const ProcessId supervisor = record->supervisor;
    waitUntil([&] { return !isRunning(supervisor); }, std::chrono::milliseconds(10),
              std::chrono::milliseconds(1));
    record = currentRecord(stateDir, label, marked->id);
  }
  if (!record) {
    return 0;
  }
  std::optional<std::chrono::seconds> killIn;
  if (record->killAt != 0) {
    killIn = std::chrono::seconds(std::max<std::int64_t>(record->killAt - std::time(nullptr), 0));
  }
  printStillStopping(label, record->job.pid, killIn);
  return kStillStopping;
}

}  // namespace launchctl::builtin
