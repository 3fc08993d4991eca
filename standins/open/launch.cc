#include "launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace open_app {
namespace {

/// Standard streams on /dev/null, nothing else open but `keep`.
void detachDescriptors(int keep) {
  const int null = ::open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd)
    ::dup2(null, fd);
  if (null > 2)
    ::close(null);
  for (int fd = 3; fd < 1024; ++fd)
    if (fd != keep)
      ::close(fd);
}

void resetSignals() {
  for (int sig = 1; sig < NSIG; ++sig)
    ::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

/// What the keeper reports: the program's pid, and the errno of a failed start (0 when it runs).
struct Report {
  pid_t program = 0;
  int error = 0;
};

void sendReport(int fd, const Report& report) {
  [[maybe_unused]] ssize_t written = ::write(fd, &report, sizeof report);
}

/// The keeper: starts the program, reports how that went, and waits for it, so it never
/// lingers as a zombie.
[[noreturn]] void runKeeper(const std::filesystem::path& executable, int report) {
  ::setsid();
  detachDescriptors(report);
  resetSignals();
  // The program's own channel: it closes without a word once exec has succeeded.
  int started[2];
  if (::pipe2(started, O_CLOEXEC) != 0) {
    sendReport(report, {0, errno});
    ::_exit(0);
  }
  const pid_t program = ::fork();
  if (program == 0) {
    ::close(report);
    const std::string path = executable.string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    ::execv(path.c_str(), argv);
    const int error = errno;
    [[maybe_unused]] ssize_t written = ::write(started[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(started[1]);
  Report outcome{program > 0 ? program : 0, program < 0 ? errno : 0};
  if (program > 0) {
    ssize_t count = 0;
    do {
      count = ::read(started[0], &outcome.error, sizeof outcome.error);
    } while (count < 0 && errno == EINTR);
    if (count != static_cast<ssize_t>(sizeof outcome.error))
      outcome.error = 0;
  }
  ::close(started[0]);
  sendReport(report, outcome);
  ::close(report);
  while (program > 0 && ::waitpid(program, nullptr, 0) < 0 && errno == EINTR) {
  }
  ::_exit(0);
}

}  // namespace

std::string launchDetached(const std::filesystem::path& executable, pid_t* started) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0)
    return std::strerror(errno);
  const pid_t keeper = ::fork();
  if (keeper < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return std::strerror(error);
  }
  if (keeper == 0) {
    ::close(report[0]);
    runKeeper(executable, report[1]);
  }
  ::close(report[1]);
  Report outcome;
  ssize_t count = 0;
  do {
    count = ::read(report[0], &outcome, sizeof outcome);
  } while (count < 0 && errno == EINTR);
  ::close(report[0]);
  if (count != static_cast<ssize_t>(sizeof outcome))
    return executable.string() + ": the keeper process ended before starting it";
  if (outcome.error != 0)
    return executable.string() + ": " + std::strerror(outcome.error);
  if (started != nullptr)
    *started = outcome.program;
  return "";
}

}  // namespace open_app
