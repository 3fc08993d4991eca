// A supervisor is a small program of its own (started by `launchctl bootstrap`, see supervisor.cc)
// that lives as long as its job is loaded and has something to do: a running program, a KeepAlive
// restart, or a timed start (StartInterval, StartCalendarInterval). It is the job's parent: when
// the job exits it takes the state lock, reaps the job (so its pid is gone by the time anyone reads
// the recorded exit), records the exit status and schedules a restart when KeepAlive asks for one,
// ThrottleInterval seconds later. As a child subreaper it also reaps what the job leaves behind.
//
// Bootout marks the record as being removed and wakes the supervisor with SIGUSR1. From then on
// the supervisor ends the job itself: SIGTERM at once, SIGKILL when the exit timeout passes, and
// it removes the record once the program is gone, whether or not bootout is still waiting.

#include "supervision.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <optional>

#include "fd_io.h"
#include "launch.h"
#include "run_record.h"
#include "state.h"
#include "state_lock.h"
#include "supervisor.h"

namespace launchctl {
namespace {

using Clock = std::chrono::steady_clock;

/// The longest the supervisor sleeps at once, so that a change of the wall clock reaches the
/// calendar schedule soon.
constexpr auto kLongestSleep = std::chrono::seconds(30);

/// Reaps the members of process group `group` that are (or become) our children until none is
/// left; they have all been sent SIGKILL.
void reapGroup(pid_t group) {
  for (;;) {
    if (waitpid(-group, nullptr, 0) > 0 || errno == EINTR) {
      continue;
    }
    return;
  }
}

/// Ends what is left of the job's process group, then reaps the job and those leftovers
/// (which become ours as their parents die, the supervisor being a subreaper); returns the
/// job's status in `list` form.
int reap(pid_t job, const JobConfig& config) {
  if (job <= 1) {
    return kExitCannotRun;
  }
  if (!config.abandonProcessGroup) {
    kill(-job, SIGKILL);
  }
  int status = 0;
  while (waitpid(job, &status, 0) < 0) {
    if (errno != EINTR) {
      return kExitCannotRun;
    }
  }
  if (!config.abandonProcessGroup) {
    reapGroup(job);
  }
  return displayStatus(status);
}

/// Reaps descendants that have already exited.
void reapStrays() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

/// Returns this supervisor's job record in `state`, or null when the job is no longer ours.
JobRecord* ownRecord(State& state, const std::string& label) {
  const auto found = state.jobs.find(label);
  if (found == state.jobs.end() || found->second.supervisor.pid != getpid()) {
    return nullptr;
  }
  return &found->second;
}

/// Adds a start to the job's run record; a record that cannot be written costs the history
/// that run, never the run itself.
void noteStart(const std::filesystem::path& dir, const std::string& label, morvane::RunCause cause,
               int64_t started = nowMicros()) {
  try {
    recordRunStart(runRecordFolder(dir), label, cause, started);
  } catch (...) {
  }
}

/// The job's schedule and the supervisor's loop over it.
class Supervision {
 public:
  Supervision(const JobConfig& config, const std::filesystem::path& dir, pid_t job,
              std::optional<int64_t> loadStart)
      : config_(config), dir_(dir), job_(job), loadStart_(loadStart) {}

  /// Supervises the job until it is unloaded or has nothing left to do. No job runs without a
  /// record: one whose bootstrap never recorded it is ended at once.
  void run() {
    if (!recorded()) {
      endUnrecordedJob();
      return;
    }
    // The start at load is recorded only now that bootstrap has saved the state, so that the two
    // never wait on the disk together; it still comes before anything else this records.
    if (loadStart_) {
      noteStart(dir_, config_.label, morvane::RunCause::load, *loadStart_);
    }
    if (config_.startInterval > 0) {
      intervalAt_ = Clock::now() + std::chrono::seconds(config_.startInterval);
    }
    calendarAt_ = nextCalendarStart(config_.calendar, std::time(nullptr));
    if (job_ < 0) {
      onExit();  // the first start could not even fork
    }
    while (!done_ && (job_ > 0 || restartAt_ || intervalAt_ || calendarAt_)) {
      // Reading the state took memory in proportion to every job loaded; what was freed goes
      // back before the supervisor sleeps, so a thousand supervisors do not each keep it.
      malloc_trim(0);
      if (awaitEvent() == SIGUSR1) {
        onWakeUp();
      }
      collectExits();
      if (!done_) {
        fireDueTimes();
      }
    }
    if (!done_) {
      leave();
    }
  }

 private:
  /// Waits, under the lock, until the bootstrapping launchctl has recorded the job or given up;
  /// false when no record names this supervisor (the bootstrap was killed, or could not save).
  bool recorded() {
    try {
      const StateLock lock(dir_);
      State state = loadState(dir_);
      return ownRecord(state, config_.label) != nullptr;
    } catch (...) {
      return false;  // a state that cannot be read holds no record of ours either
    }
  }

  /// Nothing is left to do, but the job stays loaded: the record stops naming this supervisor,
  /// so that nobody takes its end for a crash.
  void leave() {
    const StateLock lock(dir_);
    State state = loadState(dir_);
    if (JobRecord* record = ownRecord(state, config_.label)) {
      record->supervisor = {};
      saveState(dir_, state);
    }
  }

  void endUnrecordedJob() {
    if (job_ > 0) {
      kill(-job_, SIGKILL);
      kill(job_, SIGKILL);
      reap(job_, config_);
    }
    done_ = true;
  }

  /// Sleeps until a signal arrives or the next due time; returns the signal, or 0.
  int awaitEvent() const {
    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(kLongestSleep);
    const auto now = Clock::now();
    for (const auto& due : {restartAt_, intervalAt_, killAt_}) {
      if (due) {
        wait = std::min(wait, std::chrono::nanoseconds(std::max(*due - now, Clock::duration{})));
      }
    }
    if (calendarAt_) {
      const auto left =
          std::chrono::seconds(std::max<std::time_t>(*calendarAt_ - std::time(nullptr), 0));
      wait = std::min<std::chrono::nanoseconds>(wait, left);
    }
    const sigset_t awaited = supervisorSignals();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>((wait - seconds).count())};
    const int sig = sigtimedwait(&awaited, nullptr, &timeout);
    return sig > 0 ? sig : 0;
  }

  /// Reaps every child that has exited, handling the job's exit.
  void collectExits() {
    while (!done_) {
      siginfo_t info{};
      if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno == EINTR) {
          continue;
        }
        return;
      }
      if (info.si_pid == 0) {
        return;
      }
      if (info.si_pid == job_) {
        onExit();
      } else {
        waitpid(info.si_pid, nullptr, 0);
      }
    }
  }

  /// Reaps the exited job and records its exit under the lock, so nobody sees its pid gone
  /// before its status is known; removes the record instead when bootout asked for it.
  void onExit() {
    const StateLock lock(dir_);
    const int status = reap(job_, config_);
    job_ = 0;
    killAt_.reset();
    reapStrays();
    State state = loadState(dir_);
    JobRecord* record = ownRecord(state, config_.label);
    if (record == nullptr) {
      done_ = true;
      return;
    }
    noteEnd(status, record->beingRemoved);
    if (record->beingRemoved) {
      state.jobs.erase(config_.label);
      saveState(dir_, state);
      done_ = true;
      return;
    }
    record->job = {};
    record->lastStatus = status;
    saveState(dir_, state);
    if (restartsAfter(config_.keepAlive, status)) {
      restartAt_ = Clock::now() + std::chrono::seconds(config_.throttleInterval);
    }
  }

  /// Bootout's call: once the record is marked as being removed, stop starting the job, send
  /// SIGTERM and arm the SIGKILL; a job that is not running is unloaded at once.
  void onWakeUp() {
    if (stopping_) {
      return;
    }
    const StateLock lock(dir_);
    State state = loadState(dir_);
    JobRecord* record = ownRecord(state, config_.label);
    if (record == nullptr || !record->beingRemoved) {
      return;
    }
    stopping_ = true;
    restartAt_.reset();
    intervalAt_.reset();
    calendarAt_.reset();
    if (job_ <= 0) {
      state.jobs.erase(config_.label);
      saveState(dir_, state);
      done_ = true;
      return;
    }
    kill(job_, SIGTERM);
    if (record->killAt != 0) {
      const auto left =
          std::chrono::seconds(std::max<std::int64_t>(record->killAt - std::time(nullptr), 0));
      killAt_ = Clock::now() + left;
    }
  }

  /// Sends the due SIGKILL, and starts the job when a restart or a timed start is due (a timed
  /// start while it still runs is skipped, as launchd does).
  void fireDueTimes() {
    const auto now = Clock::now();
    if (killAt_ && now >= *killAt_) {
      killAt_.reset();
      kill(-job_, SIGKILL);
      kill(job_, SIGKILL);
    }
    std::optional<morvane::RunCause> due;
    if (restartAt_ && now >= *restartAt_) {
      restartAt_.reset();
      due = morvane::RunCause::keepAlive;
    }
    if (intervalAt_ && now >= *intervalAt_) {
      while (*intervalAt_ <= now) {
        *intervalAt_ += std::chrono::seconds(config_.startInterval);
      }
      due = due.value_or(morvane::RunCause::interval);
    }
    if (calendarAt_ && std::time(nullptr) >= *calendarAt_) {
      calendarAt_ = nextCalendarStart(config_.calendar, std::time(nullptr));
      due = due.value_or(morvane::RunCause::calendar);
    }
    if (due && job_ == 0 && !stopping_) {
      start(*due);
    }
  }

  /// Adds the end of the run under way to the job's run record, before the state shows it, so
  /// whoever sees the exit finds its run.
  void noteEnd(int status, bool unloaded) const {
    try {
      recordRunEnd(runRecordFolder(dir_), config_.label, status, unloaded);
    } catch (...) {
      // The history misses a run; the job itself goes on as before.
    }
  }

  /// Starts the job again for `cause` unless it was booted out meanwhile.
  void start(morvane::RunCause cause) {
    {
      const StateLock lock(dir_);
      State state = loadState(dir_);
      JobRecord* record = ownRecord(state, config_.label);
      if (record == nullptr) {
        done_ = true;
        return;
      }
      if (record->beingRemoved) {
        return;  // its SIGUSR1 is on the way
      }
      job_ = launchJob(config_);
      noteStart(dir_, config_.label, cause);
      record->job = job_ > 0 ? identify(job_) : ProcessId{};
      saveState(dir_, state);
    }
    if (job_ < 0) {
      onExit();
    }
  }

  const JobConfig& config_;
  const std::filesystem::path dir_;
  pid_t job_;  ///< The running program; 0 when none, negative when a start failed to fork.
  const std::optional<int64_t> loadStart_;
  std::optional<Clock::time_point> restartAt_;
  std::optional<Clock::time_point> intervalAt_;
  std::optional<Clock::time_point> killAt_;
  std::optional<std::time_t> calendarAt_;
  bool stopping_ = false;
  bool done_ = false;
};

}  // namespace

[[noreturn]] void supervise(const JobConfig& config, const std::filesystem::path& dir, pid_t job,
                            std::optional<int64_t> loadStart) {
  try {
    Supervision(config, dir, job, loadStart).run();
  } catch (...) {
    // The state became unusable; the job is left to bootout.
  }
  reapStrays();
  _exit(0);
}

}  // namespace launchctl
