// Starting a supervisor: `launchctl bootstrap` forks it, and it starts the job and reports at
// once; then it runs the supervisor program beside launchctl, handing it the job. The program
// starts afresh from exec, so however many jobs the state holds, no supervisor keeps a copy of
// what bootstrap read.

#include "supervisor.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "fd_io.h"
#include "job_config_codec.h"
#include "launch.h"
#include "run_record.h"
#include "state_lock.h"

extern char** environ;

namespace launchctl {
namespace {

/// The supervisor program: beside this launchctl.
std::filesystem::path supervisorProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (error ? std::filesystem::path("/proc/self/exe") : self).parent_path() /
         kSupervisorProgram;
}

/// An anonymous file holding `bytes`, read from its start; -1 when it cannot be made.
int memoryFile(const std::string& bytes) {
  const int fd = memfd_create("launchctl-job", MFD_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  if (!writeFully(fd, bytes.data(), bytes.size()) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

/// Points 0, 1 and 2 at /dev/null, moves the job's configuration to kConfigFd and closes every
/// other descriptor but the report pipe, which goes to the returned one. Both are closed on exec,
/// so no job inherits them.
int detachDescriptors(int reportFd, int configFd) {
  const int report = fcntl(reportFd, F_DUPFD_CLOEXEC, kConfigFd + 1);
  const int config = fcntl(configFd, F_DUPFD_CLOEXEC, kConfigFd + 1);
  if (report < 0 || config < 0 || dup3(config, kConfigFd, O_CLOEXEC) < 0) {
    _exit(127);
  }
  const int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) {
    dup2(null, fd);
  }
  const int kept = kConfigFd + 1;
  if (report != kept && dup3(report, kept, O_CLOEXEC) < 0) {
    _exit(127);
  }
  close_range(kept + 1, ~0U, 0);
  return kept;
}

/// Restores default handling for every signal and blocks the awaited ones, which the
/// supervisor takes with sigtimedwait (jobs start with an empty mask, see launch.cc).
void resetSignals() {
  for (int sig = 1; sig < NSIG; ++sig) {
    signal(sig, SIG_DFL);
  }
  const sigset_t awaited = supervisorSignals();
  sigprocmask(SIG_SETMASK, &awaited, nullptr);
}

/// The forked supervisor: starts the job when it starts at load and reports, exactly as quickly
/// as bootstrap needs, then becomes the supervisor program, which supervises the job (its child
/// still) from a fresh start and records the run's start once bootstrap has saved the state. A
/// program that cannot be run leaves the job to bootout, as a supervisor that dies does.
[[noreturn]] void becomeSupervisor(const JobConfig& config, const char* program,
                                   const std::string& stateDir, int reportFd, int configFd) {
  const int report = detachDescriptors(reportFd, configFd);
  resetSignals();
  prctl(PR_SET_CHILD_SUBREAPER, 1);  // kept across exec
  if (chdir("/") != 0) {
    // Nothing depends on it; the supervisor only avoids pinning the caller's directory.
  }
  const pid_t job = startsAtLoad(config) ? launchJob(config) : 0;
  const int64_t started = nowMicros();
  // A bootstrap killed meanwhile has closed the pipe; the report is lost, not fatal.
  signal(SIGPIPE, SIG_IGN);
  const SupervisorReport sent{identify(getpid()), job > 0 ? identify(job) : ProcessId{}};
  writeFully(report, &sent, sizeof sent);  // a lost report shows as a failed start
  close(report);
  signal(SIGPIPE, SIG_DFL);
  // Nothing more until bootstrap has saved the state (it holds the lock until then), so that the
  // program's start and the run's record, which it writes, take neither processor nor disk from
  // bootstrap.
  try {
    const StateLock saved(stateDir);
  } catch (...) {
    // The program finds out for itself.
  }
  std::string jobText = std::to_string(job);
  std::string dir = stateDir;
  std::string name(kSupervisorProgram);
  std::string startText = startsAtLoad(config) ? std::to_string(started) : "-";
  char* const argv[] = {name.data(), dir.data(), jobText.data(), startText.data(), nullptr};
  fcntl(kConfigFd, F_SETFD, 0);
  execve(program, argv, environ);
  _exit(127);
}

}  // namespace

bool needsSupervisor(const JobConfig& config) {
  return startsAtLoad(config) || config.startInterval > 0 || !config.calendar.empty();
}

std::optional<SupervisorReport> startSupervisor(const JobConfig& config,
                                                const std::filesystem::path& stateDir) {
  const std::string program = supervisorProgram().string();
  if (access(program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "launchctl: cannot run the supervisor %s: %s\n", program.c_str(),
                 std::strerror(errno));
    return std::nullopt;
  }
  const int configFd = memoryFile(encodeJobConfig(config));
  if (configFd < 0) {
    return std::nullopt;
  }
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    close(configFd);
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
      becomeSupervisor(config, program.c_str(), stateDir.string(), pipeFds[1], configFd);
    }
    _exit(0);
  }
  close(pipeFds[1]);
  close(configFd);
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
