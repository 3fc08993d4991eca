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

/// The keeper: starts the program and waits for it, so it never lingers as a zombie.
[[noreturn]] void runKeeper(const std::filesystem::path& executable, int report) {
  ::setsid();
  detachDescriptors(report);
  resetSignals();
  const pid_t program = ::fork();
  if (program == 0) {
    const std::string path = executable.string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    ::execv(path.c_str(), argv);
    const int error = errno;
    [[maybe_unused]] ssize_t written = ::write(report, &error, sizeof error);
    ::_exit(127);
  }
  if (program < 0) {
    const int error = errno;
    [[maybe_unused]] ssize_t written = ::write(report, &error, sizeof error);
  }
  ::close(report);
  while (program > 0 && ::waitpid(program, nullptr, 0) < 0 && errno == EINTR) {
  }
  ::_exit(0);
}

}  // namespace

std::string launchDetached(const std::filesystem::path& executable) {
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
  // The pipe closes without a word once exec has succeeded (close-on-exec) and the keeper has
  // let go of its end; an errno arrives when it failed.
  int error = 0;
  ssize_t count = 0;
  do {
    count = ::read(report[0], &error, sizeof error);
  } while (count < 0 && errno == EINTR);
  ::close(report[0]);
  if (count == static_cast<ssize_t>(sizeof error))
    return executable.string() + ": " + std::strerror(error);
  return "";
}

}  // namespace open_app
