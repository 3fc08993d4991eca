// A supervisor is a forked copy of `launchctl bootstrap` that lives as long as its job is
// loaded and running. It is the job's parent: when the job exits it takes the state lock, reaps
// the job (so its pid is gone by the time anyone reads the recorded exit), records the exit
// status, restarts KeepAlive jobs at most once per second, and exits when the job ends for good
// or bootout has marked it as being removed. As a child subreaper it also reaps what the job
// leaves behind.

#include "supervisor.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "fd_io.h"
#include "launch.h"
#include "state.h"
#include "state_lock.h"

namespace launchctl {
namespace {

constexpr auto kRestartInterval = std::chrono::seconds(1);

/// Descriptor the supervisor keeps for its report to the bootstrapping launchctl.
constexpr int kReportFd = 3;

/// Points 0, 1 and 2 at /dev/null, moves the report pipe to kReportFd and closes everything
/// else, so the supervisor keeps none of its caller's pipes or the state lock open.
void detachDescriptors(int reportFd) {
  const int report = fcntl(reportFd, F_DUPFD_CLOEXEC, kReportFd);
  const int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) {
    dup2(null, fd);
  }
  if (report != kReportFd) {
    dup3(report, kReportFd, O_CLOEXEC);
  }
  close_range(kReportFd + 1, ~0U, 0);
}

/// Restores default handling and an empty mask for every signal.
void resetSignals() {
  for (int sig = 1; sig < NSIG; ++sig) {
    signal(sig, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

/// Writes the report and closes the pipe; the bootstrapping launchctl is waiting for it.
void sendReport(const SupervisorReport& report) {
  writeFully(kReportFd, &report, sizeof report);  // a lost report shows as a failed start
  close(kReportFd);
}

/// Blocks until the job has exited, reaping any other descendants on the way. The job itself
/// is left unreaped, so its pid stays taken until its exit is recorded under the lock.
void awaitExit(pid_t job) {
  for (;;) {
    siginfo_t info{};
    if (waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) != 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (info.si_pid == job) {
      return;
    }
    waitpid(info.si_pid, nullptr, 0);
  }
}

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

/// Reaps the exited job and records its exit under the lock, so nobody sees its pid gone
/// before its status is known; returns true when it should be started again.
bool recordExit(const JobConfig& config, const std::filesystem::path& dir, pid_t job) {
  const StateLock lock(dir);
  const int status = reap(job, config);
  reapStrays();
  State state = loadState(dir);
  JobRecord* record = ownRecord(state, config.label);
  if (record == nullptr) {
    return false;
  }
  record->job = {};
  record->lastStatus = status;
  saveState(dir, state);
  return config.keepAlive && !record->beingRemoved;
}

/// Starts the job again unless it was booted out meanwhile; returns its pid, or 0 to stop.
pid_t restart(const JobConfig& config, const std::filesystem::path& dir) {
  const StateLock lock(dir);
  State state = loadState(dir);
  JobRecord* record = ownRecord(state, config.label);
  if (record == nullptr || record->beingRemoved) {
    return 0;
  }
  const pid_t job = launchJob(config);
  record->job = job > 0 ? identify(job) : ProcessId{};
  saveState(dir, state);
  return job > 0 ? job : -1;
}

/// Waits, under the lock, until the bootstrapping launchctl has recorded the job or given up;
/// false when no record names this supervisor (the bootstrap was killed, or could not save).
bool recorded(const JobConfig& config, const std::filesystem::path& dir) {
  try {
    const StateLock lock(dir);
    State state = loadState(dir);
    return ownRecord(state, config.label) != nullptr;
  } catch (...) {
    return false;  // a state that cannot be read holds no record of ours either
  }
}

/// Supervises the job until it is no longer wanted; `job` is the first run's pid (<= 0 when
/// that run could not be forked). No job runs without a record: an unrecorded one is ended.
void supervise(const JobConfig& config, const std::filesystem::path& dir, pid_t job) {
  if (!recorded(config, dir)) {
    if (job > 0) {
      kill(-job, SIGKILL);
      kill(job, SIGKILL);
      reap(job, config);
    }
    return;
  }
  auto started = std::chrono::steady_clock::now();
  for (;;) {
    if (job > 0) {
      awaitExit(job);
    }
    if (!recordExit(config, dir, job)) {
      return;
    }
    std::this_thread::sleep_until(started + kRestartInterval);
    started = std::chrono::steady_clock::now();
    job = restart(config, dir);
    if (job == 0) {
      return;
    }
  }
}

/// Body of the supervisor process; never returns.
[[noreturn]] void runSupervisor(const JobConfig& config, const std::filesystem::path& dir,
                                int reportFd) {
  detachDescriptors(reportFd);
  resetSignals();
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  if (chdir("/") != 0) {
    // Nothing depends on it; the supervisor only avoids pinning the caller's directory.
  }
  const pid_t job = launchJob(config);
  // A bootstrap killed meanwhile has closed the pipe; the report is lost, not fatal.
  signal(SIGPIPE, SIG_IGN);
  sendReport({identify(getpid()), job > 0 ? identify(job) : ProcessId{}});
  try {
    supervise(config, dir, job);
  } catch (...) {
    // The state became unusable; the job is left to bootout.
  }
  reapStrays();
  _exit(0);
}

}  // namespace

std::optional<SupervisorReport> startSupervisor(const JobConfig& config,
                                                const std::filesystem::path& stateDir) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    return std::nullopt;
  }
  std::fflush(nullptr);
  const pid_t middle = fork();
  if (middle == 0) {
    // The middle process starts a new session and leaves, so the supervisor is nobody's child
    // in the caller's process tree and never a session leader.
    close(pipeFds[0]);
    setsid();
    if (fork() == 0) {
      runSupervisor(config, stateDir, pipeFds[1]);
    }
    _exit(0);
  }
  close(pipeFds[1]);
  SupervisorReport report{};
  const bool received = middle > 0 && readFully(pipeFds[0], &report, sizeof report);
  close(pipeFds[0]);
  if (middle > 0) {
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (!received) {
    return std::nullopt;
  }
  return report;
}

}  // namespace launchctl
