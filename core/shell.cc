#include "shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include "file_io.h"
#include "unicode_text.h"
#include "unique_fd.h"

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
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return false;
  pipe.read.reset(fds[0]);
  pipe.write.reset(fds[1]);
  // A larger pipe means fewer wake-ups for chatty children; the default size works too.
  ::fcntl(pipe.read.get(), F_SETPIPE_SZ, 1 << 20);
  ::fcntl(pipe.read.get(), F_SETFL, O_NONBLOCK);
  return true;
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
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

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
class Child {
 public:
  Child(pid_t pid, Pipe& out, Pipe& err, double timeout)
      : pid_(pid),
        out_(std::move(out.read)),
        err_(std::move(err.read)),
        pidfd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {
    auto limit = std::chrono::duration<double>(timeout > 0 ? timeout : 0);
    auto longest = std::chrono::duration<double>(std::chrono::hours(24 * 365));
    deadline_ =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::min(limit, longest));
  }

  ShellResult wait() {
    while (out_.fd || err_.fd || !exited_)
      step();
    return ShellResult{status_, out_.text(), err_.text()};
  }

 private:
  void step() {
    pollfd fds[3];
    nfds_t count = 0;
    auto watch = [&](const UniqueFd& fd) {
      if (fd)
        fds[count++] = pollfd{fd.get(), POLLIN, 0};
    };
    watch(out_.fd);
    watch(err_.fd);
    if (!exited_ && pidfd_)
      watch(pidfd_);
    ::poll(fds, count, pollTimeout());  // an interrupted poll just takes another turn
    out_.drain();
    err_.drain();
    reap();
    if (!exited_ && !signalled_ && Clock::now() >= deadline_) {
      ::kill(pid_, SIGTERM);  // the child is not reaped yet, so the pid is still its own
      signalled_ = true;
    }
  }

  /// How long poll may sleep: until the deadline, and briefly when the child cannot be watched.
  int pollTimeout() const {
    long long wait = -1;
    if (!exited_ && !signalled_) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
      wait = std::clamp<long long>(left, 0, INT_MAX);
    }
    if (!exited_ && !pidfd_)
      wait = wait < 0 ? 20 : std::min(wait, 20LL);
    return static_cast<int>(wait);
  }

  /// Collects the child's status if it has ended.
  void reap() {
    if (exited_)
      return;
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) != pid_)
      return;
    exited_ = true;
    pidfd_.reset();
    status_ = WIFSIGNALED(raw) ? WTERMSIG(raw) : WEXITSTATUS(raw);
  }

  pid_t pid_;
  Stream out_, err_;
  UniqueFd pidfd_;
  Clock::time_point deadline_;
  bool exited_ = false, signalled_ = false;
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
                double timeout, const Environment& environment) {
  Pipe out, err;
  if (!makePipe(out) || !makePipe(err))
    return ShellResult{127, "", executable.string() + ": " + describeErrno(errno)};
  pid_t pid = 0;
  if (int error = spawn(pid, executable, arguments, environment, out, err); error != 0)
    return ShellResult{127, "", executable.string() + ": " + describeErrno(error)};
  out.write.reset();
  err.write.reset();
  return Child(pid, out, err, timeout).wait();
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
