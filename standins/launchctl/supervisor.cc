// Starting a supervisor: `launchctl bootstrap` hands the job to the supervisor program beside
// it and waits for its report. The program starts afresh from exec, so however many jobs the
// state holds, no supervisor keeps a copy of what bootstrap read.

#include "supervisor.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "fd_io.h"
#include "job_config_codec.h"

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

/// In the forked supervisor: puts the report pipe and the job at the descriptors the program
/// expects, closes every other one but the standard three, and runs the program. Says why on
/// standard error (still bootstrap's) when it cannot.
[[noreturn]] void execSupervisor(const char* program, char* const argv[], int reportFd,
                                 int configFd) {
  const int report = fcntl(reportFd, F_DUPFD, kConfigFd + 1);
  const int config = fcntl(configFd, F_DUPFD, kConfigFd + 1);
  if (report < 0 || config < 0 || dup2(report, kReportFd) < 0 || dup2(config, kConfigFd) < 0) {
    _exit(127);
  }
  close_range(kConfigFd + 1, ~0U, 0);
  execve(program, argv, environ);
  std::fprintf(stderr, "launchctl: cannot run the supervisor %s: %s\n", program,
               std::strerror(errno));
  _exit(127);
}

}  // namespace

bool needsSupervisor(const JobConfig& config) {
  return startsAtLoad(config) || config.startInterval > 0 || !config.calendar.empty();
}

std::optional<SupervisorReport> startSupervisor(const JobConfig& config,
                                                const std::filesystem::path& stateDir) {
  const std::string program = supervisorProgram().string();
  std::string dir = stateDir.string();
  std::string name(kSupervisorProgram);
  char* const argv[] = {name.data(), dir.data(), nullptr};
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
      execSupervisor(program.c_str(), argv, pipeFds[1], configFd);
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
