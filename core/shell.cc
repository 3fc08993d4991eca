#include "shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>

#include "file_io.h"
#include "platform.h"
#include "spawn_signals.h"
#include "unicode_text.h"
#include "unique_fd.h"
#include "utf8_repair.h"

extern char** environ;

namespace morvane {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

bool makePipe(Pipe& pipe) {
  int fds[2];
  if (!platform::openOutputPipe(fds))
    return false;
  pipe.read.reset(fds[0]);
  pipe.write.reset(fds[1]);
  return true;
}

/// A point `seconds` from `start`; at most a year away, however large the limit.
Clock::time_point after(Clock::time_point start, double seconds) {
  auto span = std::chrono::duration<double>(seconds > 0 ? seconds : 0);
  auto longest = std::chrono::duration<double>(std::chrono::hours(24 * 365));
  return start + std::chrono::duration_cast<Clock::duration>(std::min(span, longest));
}

/// The child's environment: the parent's, with `additions` added or replacing.
std::vector<std::string> mergedEnvironment(const Shell::Environment& additions) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text = *entry;
    if (!additions.contains(std::string(text.substr(0, text.find('=')))))
      entries.emplace_back(text);
  }
  for (const auto& [name, value] : additions)
    entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts)
    result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

/// Starts the child with its outputs on the pipes; returns 0 or the spawn error.
int spawn(pid_t& pid, const std::filesystem::path& executable,
          const std::vector<std::string>& arguments, const Shell::Environment& environment,
          const Pipe& out, const Pipe& err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);

  // The child starts with no blocked signals and default handlers, whatever this process set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own, so that the time limit reaches whatever the child starts.
  posix_spawnattr_setpgroup(&attributes, 0);
  startWithDefaultSignals(attributes, POSIX_SPAWN_SETPGROUP);

  std::vector<std::string> argv{executable.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> argvPointers = pointers(argv);
  std::vector<std::string> envp;
  std::vector<char*> envpPointers;
  if (!environment.empty()) {
    envp = mergedEnvironment(environment);
    envpPointers = pointers(envp);
  }
  int error = posix_spawn(&pid, executable.c_str(), &actions, &attributes, argvPointers.data(),
                          environment.empty() ? environ : envpPointers.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

/// One output stream of the child and the bytes read from it so far.
struct Stream {
  explicit Stream(UniqueFd readEnd) : fd(std::move(readEnd)) {}

  UniqueFd fd;
  std::string bytes;

  /// Reads what the pipe holds now; closes the descriptor at end of file.
  void drain() {
    while (fd) {
      auto [count, error] = readSome();
      if (count > 0 || error == EINTR)
        continue;
      if (count < 0 && (error == EAGAIN || error == EWOULDBLOCK))
        return;
      fd.reset();  // end of file, or a pipe that can no longer be read
    }
  }

  /// One read into the spare capacity, with its errno; nothing is zero-filled first.
  ///
  /// A full buffer grows fourfold: capacity that is never written costs no memory, and fewer
  /// moves of large output mean far fewer fresh pages to fault in.
  std::pair<ssize_t, int> readSome() {
    constexpr size_t kLeast = 1 << 16;
    const size_t start = bytes.size();
    const size_t spare = bytes.capacity() - start;
    const size_t room = spare >= kLeast ? spare : std::max(kLeast, 3 * start);
    ssize_t count = 0;
    int error = 0;
    bytes.resize_and_overwrite(start + room, [&](char* data, size_t) {
      count = ::read(fd.get(), data + start, room);
      error = count < 0 ? errno : 0;
      return start + static_cast<size_t>(std::max<ssize_t>(count, 0));
    });
    return {count, error};
  }

  /// The bytes read, as UTF-8.
  std::string text() { return repairUtf8(std::move(bytes)); }
};

/// Watches one started child until it has ended and both of its streams are closed.
///
/// At the time limit the child's process group is asked to terminate; if the child is still
/// there `killGrace` seconds later the group is killed. Once the child has ended and the limit
/// has passed, streams that other processes still hold open are no longer waited for.
class Child {
 public:
  Child(pid_t pid, Pipe& out, Pipe& err, double timeout, double killGrace)
      : pid_(pid),
        out_(std::move(out.read)),
        err_(std::move(err.read)),
        exitWatch_(platform::watchChildExit(pid)),
        deadline_(after(Clock::now(), timeout)),
        killAt_(after(deadline_, killGrace)) {}

  ShellResult wait() {
    while (!finished())
      step();
    return ShellResult{status_, out_.text(), err_.text(), terminated_};
  }

 private:
  bool finished() const { return exited_ && ((!out_.fd && !err_.fd) || Clock::now() >= deadline_); }

  void step() {
    pollfd fds[3];
    nfds_t count = 0;
    auto watch = [&](const UniqueFd& fd) {
      if (fd)
        fds[count++] = pollfd{fd.get(), POLLIN, 0};
    };
    watch(out_.fd);
    watch(err_.fd);
    if (!exited_ && exitWatch_)
      watch(exitWatch_);
    ::poll(fds, count, pollTimeout());  // an interrupted poll just takes another turn
    out_.drain();
    err_.drain();
    reap();
    if (exited_)
      return;
    const Clock::time_point now = Clock::now();
    // The child is not reaped yet, so its pid, which names its group, is still its own.
    if (!terminated_ && now >= deadline_) {
      signalGroup(SIGTERM);
      terminated_ = true;
    } else if (terminated_ && !killed_ && now >= killAt_) {
      signalGroup(SIGKILL);  // ends a stopped child as well
      killed_ = true;
    }
  }

  /// How long poll may sleep: until the next time something is due, and briefly when the
  /// child's end cannot be watched.
  int pollTimeout() const {
    std::optional<Clock::time_point> due;
    if (exited_)
      due = deadline_;  // streams held by others are read until the limit
    else if (!terminated_)
      due = deadline_;
    else if (!killed_)
      due = killAt_;
    long long wait = -1;
    if (due) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
      wait = std::clamp<long long>(left, 0, INT_MAX);
    }
    if (!exited_ && !exitWatch_)
      wait = wait < 0 ? 20 : std::min(wait, 20LL);
    return static_cast<int>(wait);
  }

  /// Signals the child's group; the child alone if the group is gone (it changed its own).
  void signalGroup(int signal) {
    if (::kill(-pid_, signal) != 0)
      ::kill(pid_, signal);
  }

  /// Collects the child's status if it has ended. ECHILD means someone else reaped it (SIGCHLD
  /// ignored): the child has ended, and its status is lost.
  void reap() {
    if (exited_)
      return;
    int raw = 0;
    pid_t reaped = ::waitpid(pid_, &raw, WNOHANG);
    if (reaped == -1 && errno == ECHILD) {
      exited_ = true;
      status_ = ShellResult::kStatusLost;
    } else if (reaped == pid_) {
      exited_ = true;
      status_ = WIFSIGNALED(raw) ? WTERMSIG(raw) : WEXITSTATUS(raw);
    }
    if (exited_)
      exitWatch_.reset();
  }

  pid_t pid_;
  Stream out_, err_;
  UniqueFd exitWatch_;
  Clock::time_point deadline_, killAt_;
  bool exited_ = false, terminated_ = false, killed_ = false;
  int32_t status_ = 0;
};

}  // namespace

std::string ShellResult::message() const {
  std::string_view trimmed = trimWhitespaceAndNewlines(standardError);
  if (trimmed.empty())
    trimmed = trimWhitespaceAndNewlines(standardOutput);
  return std::string(trimmed);
}

namespace Shell {

ShellResult run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                double timeout, const Environment& environment, double killGrace) {
  Pipe out, err;
  if (!makePipe(out) || !makePipe(err))
    return ShellResult{127, "", executable.string() + ": " + describeErrno(errno)};
  pid_t pid = 0;
  if (int error = spawn(pid, executable, arguments, environment, out, err); error != 0)
    return ShellResult{127, "", executable.string() + ": " + describeErrno(error)};
  out.write.reset();
  err.write.reset();
  return Child(pid, out, err, timeout, killGrace).wait();
}

std::string quote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace Shell
}  // namespace morvane
