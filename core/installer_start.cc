#include "installer_start.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>

#include "file_io.h"
#include "language.h"
#include "platform.h"

extern char** environ;

namespace morvane::Updater::detail {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// Starts the shell: standard input from /dev/null, both outputs into `output`, the lock on
/// descriptor 9, and signals as a new program has them whatever this process set.
int spawnShell(pid_t& pid, const std::string& command, int lock, int output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, lock, kInstallerLockDescriptor);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string shell = platform::toolPath(platform::Tool::sh).string();
  std::string option = "-c";
  std::string text = command;
  char* argv[] = {shell.data(), option.data(), text.data(), nullptr};
  const int error = posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

/// The size of `path`, or 0 when it does not exist yet.
off_t sizeOf(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_size : 0;
}

/// What was appended to `path` after `offset` (at most 64 KiB of it).
std::string readFrom(const fs::path& path, off_t offset) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  std::string text(size_t{64} << 10, '\0');
  ssize_t count = fd ? ::pread(fd.get(), text.data(), text.size(), offset) : -1;
  text.resize(count > 0 ? static_cast<size_t>(count) : 0);
  return text;
}

/// Whether some process holds the lock file at `path`: taking it here fails.
bool isHeld(const fs::path& path) {
  UniqueFd probe(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  return probe && ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

/// The last non-blank line of `text`, trimmed.
std::string lastLine(const std::string& text) {
  const size_t end = text.find_last_not_of(" \t\r\n");
  if (end == std::string::npos)
    return "";
  const size_t newline = text.rfind('\n', end);
  const size_t start = newline == std::string::npos ? 0 : newline + 1;
  const size_t first = text.find_first_not_of(" \t", start);
  return text.substr(first, end + 1 - first);
}

std::unexpected<Failure> notStarted(const std::string& reason) {
  return fail(L("无法启动安装脚本：", "Couldn't start the install script: ") + reason);
}

/// Reads what the shell printed so far; closes the pipe at its end.
void drain(UniqueFd& output, std::string& said) {
  char buffer[4096];
  while (output) {
    const ssize_t count = ::read(output.get(), buffer, sizeof buffer);
    if (count > 0) {
      said.append(buffer, static_cast<size_t>(count));
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else {
      if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
        output.reset();
      return;
    }
  }
}

}  // namespace

Outcome startInstaller(const std::string& command, UpdateLock lock, const fs::path& log,
                       const std::string& firstLine, double timeout) {
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeout));
  const off_t logEnd = sizeOf(log);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
    return notStarted(describeErrno(errno));
  UniqueFd output(fds[0]);
  UniqueFd outputWrite(fds[1]);
  // Above the standard streams and the descriptor it is handed on as, whatever number it had.
  UniqueFd lockCopy(::fcntl(lock.descriptor(), F_DUPFD_CLOEXEC, kInstallerLockDescriptor + 1));
  if (!lockCopy)
    return notStarted(describeErrno(errno));
  pid_t shell = 0;
  if (int error = spawnShell(shell, command, lockCopy.get(), outputWrite.get()); error != 0)
    return notStarted(platform::toolPath(platform::Tool::sh).string() + ": " +
                      describeErrno(error));
  outputWrite.reset();
  lockCopy.reset();
  lock.release();  // from now on the lock is held by the shell and then the script alone
  const fs::path lockPath = lock.path();
  std::string said;
  std::optional<int> status;
  for (;;) {
    drain(output, said);
    int raw = 0;
    if (!status) {
      const pid_t reaped = ::waitpid(shell, &raw, WNOHANG);
      if (reaped == shell)
        status = raw;
      else if (reaped < 0 && errno != EINTR)
        status = 0;  // reaped by someone else: the lock tells what became of the script
    }
    if (status && !(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)) {
      std::string reason = lastLine(said);
      if (reason.empty())
        reason = "sh: status " + std::to_string(WIFEXITED(*status) ? WEXITSTATUS(*status)
                                                                   : 128 + WTERMSIG(*status));
      return notStarted(reason);
    }
    if (readFrom(log, logEnd).find(firstLine) != std::string::npos)
      return {};
    if (status && !isHeld(lockPath)) {
      // The script has ended, or never ran; it may have written its line just before.
      const std::string appended = readFrom(log, logEnd);
      if (appended.find(firstLine) != std::string::npos)
        return {};
      std::string reason = lastLine(appended);
      if (reason.empty())
        reason = lastLine(said);
      return notStarted(reason.empty() ? L("它没有运行。", "it did not run.") : reason);
    }
    if (Clock::now() >= deadline) {
      if (!status) {
        ::kill(shell, SIGKILL);
        while (::waitpid(shell, nullptr, 0) < 0 && errno == EINTR) {
        }
      }
      return notStarted(L("它没有在时限内开始运行。", "it did not begin in time."));
    }
    pollfd watch{output.get(), POLLIN, 0};
    ::poll(&watch, output ? 1 : 0, 5);
  }
}

}  // namespace morvane::Updater::detail
