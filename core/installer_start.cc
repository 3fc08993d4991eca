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
#include "spawn_signals.h"

extern char** environ;

namespace morvane::Updater::detail {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// Starts the shell: standard input from /dev/null, both outputs into `output`, the locks on
/// descriptors 9 and 8, and signals as a new program has them whatever this process set.
int spawnShell(pid_t& pid, const std::string& command, int lock, int bundleLock, int output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, lock, kInstallerLockDescriptor);
  posix_spawn_file_actions_adddup2(&actions, bundleLock, kInstallerBundleLockDescriptor);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  startWithDefaultSignals(attributes);
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

/// Watches the shell that starts the script, and the log, until the script's first line shows.
class StartWatch {
 public:
  StartWatch(pid_t shell, UniqueFd output, fs::path log, off_t logEnd, fs::path lockPath,
             std::string firstLine, Clock::time_point deadline)
      : shell_(shell),
        output_(std::move(output)),
        log_(std::move(log)),
        logEnd_(logEnd),
        lockPath_(std::move(lockPath)),
        firstLine_(std::move(firstLine)),
        deadline_(deadline) {}

  Outcome wait() {
    for (;;) {
      collectShell();
      if (status_ && !(WIFEXITED(*status_) && WEXITSTATUS(*status_) == 0))
        return shellFailed();
      if (lineSeen())
        return {};
      // Once the shell is gone, only the script holds the lock: free means it has ended, or
      // never ran. It may have written its line just before.
      if (status_ && !isHeld(lockPath_))
        return lineSeen() ? Outcome() : scriptGone();
      if (Clock::now() >= deadline_)
        return timedOut();
      pollfd watch{output_.get(), POLLIN, 0};
      ::poll(&watch, output_ ? 1 : 0, 5);
    }
  }

 private:
  /// Reads what the shell printed so far, and its status once it has ended.
  void collectShell() {
    char buffer[4096];
    while (output_) {
      const ssize_t count = ::read(output_.get(), buffer, sizeof buffer);
      if (count > 0) {
        said_.append(buffer, static_cast<size_t>(count));
        continue;
      }
      if (count < 0 && errno == EINTR)
        continue;
      if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        break;
      output_.reset();  // its end, or a pipe that can no longer be read
    }
    if (status_)
      return;
    int raw = 0;
    const pid_t reaped = ::waitpid(shell_, &raw, WNOHANG);
    if (reaped == shell_)
      status_ = raw;
    else if (reaped < 0 && errno != EINTR)
      status_ = 0;  // reaped by someone else: the lock tells what became of the script
  }

  bool lineSeen() const { return readFrom(log_, logEnd_).find(firstLine_) != std::string::npos; }

  std::unexpected<Failure> shellFailed() const {
    std::string reason = lastLine(said_);
    if (reason.empty())
      reason = "sh: status " + std::to_string(WIFEXITED(*status_) ? WEXITSTATUS(*status_)
                                                                  : 128 + WTERMSIG(*status_));
    return notStarted(reason);
  }

  std::unexpected<Failure> scriptGone() const {
    std::string reason = lastLine(readFrom(log_, logEnd_));
    if (reason.empty())
      reason = lastLine(said_);
    return notStarted(reason.empty() ? L("它没有运行。", "it did not run.") : reason);
  }

  std::unexpected<Failure> timedOut() {
    if (!status_) {
      ::kill(shell_, SIGKILL);
      while (::waitpid(shell_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    return notStarted(L("它没有在时限内开始运行。", "it did not begin in time."));
  }

  const pid_t shell_;
  UniqueFd output_;
  const fs::path log_;
  const off_t logEnd_;
  const fs::path lockPath_;
  const std::string firstLine_;
  const Clock::time_point deadline_;
  std::string said_;
  std::optional<int> status_;
};

}  // namespace

Outcome startInstaller(const std::string& command, UpdateLock lock, const fs::path& log,
                       const std::string& firstLine, double timeout) {
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeout));
  const off_t logEnd = sizeOf(log);
  int fds[2];
  if (!platform::openOutputPipe(fds))
    return notStarted(describeErrno(errno));
  UniqueFd output(fds[0]);
  UniqueFd outputWrite(fds[1]);
  // Above the standard streams and the descriptor it is handed on as, whatever number it had.
  UniqueFd lockCopy(::fcntl(lock.descriptor(), F_DUPFD_CLOEXEC, kInstallerLockDescriptor + 1));
  UniqueFd bundleLockCopy(
      ::fcntl(lock.bundleDescriptor(), F_DUPFD_CLOEXEC, kInstallerLockDescriptor + 1));
  if (!lockCopy || !bundleLockCopy)
    return notStarted(describeErrno(errno));
  pid_t shell = 0;
  if (int error =
          spawnShell(shell, command, lockCopy.get(), bundleLockCopy.get(), outputWrite.get());
      error != 0)
    return notStarted(platform::toolPath(platform::Tool::sh).string() + ": " +
                      describeErrno(error));
  outputWrite.reset();
  lockCopy.reset();
  bundleLockCopy.reset();
  lock.release();  // from now on the lock is held by the shell and then the script alone
  return StartWatch(shell, std::move(output), log, logEnd, lock.path(), firstLine, deadline).wait();
}

}  // namespace morvane::Updater::detail
