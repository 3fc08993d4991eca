#include "process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>
#include <thread>

namespace launchctl {
namespace {

/// The fields of /proc/<pid>/stat this program needs.
struct ProcStat {
  char state;
  std::uint64_t start;
};

/// Reads /proc/<pid>/stat; nullopt when the process does not exist.
std::optional<ProcStat> readProcStat(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  // The fields up to the start time take well under this; the rest are not needed.
  char line[1024];
  const ssize_t length = read(fd, line, sizeof line);
  close(fd);
  if (length <= 0) {
    return std::nullopt;
  }
  // The command name may contain spaces and parentheses; the fields resume after the last ')'.
  const std::string_view text(line, static_cast<size_t>(length));
  const size_t close = text.rfind(')');
  if (close == std::string_view::npos || close + 2 >= text.size()) {
    return std::nullopt;
  }
  ProcStat stat{};
  stat.state = text[close + 2];
  // Field 3 is the state; the start time is field 22.
  size_t at = close + 3;
  for (int field = 4; field < 22; ++field) {
    at = text.find(' ', at + 1);
    if (at == std::string_view::npos) {
      return std::nullopt;
    }
  }
  const char* first = text.data() + at + 1;
  const char* last = text.data() + text.size();
  if (std::from_chars(first, last, stat.start).ec != std::errc()) {
    return std::nullopt;
  }
  return stat;
}

}  // namespace

ProcessId identify(pid_t pid) {
  const std::optional<ProcStat> stat = readProcStat(pid);
  return {pid, stat ? stat->start : 0};
}

Liveness livenessOf(const ProcessId& process) {
  if (process.pid <= 0) {
    return Liveness::gone;
  }
  const std::optional<ProcStat> stat = readProcStat(process.pid);
  if (!stat || (process.start != 0 && stat->start != process.start)) {
    return Liveness::gone;
  }
  return stat->state == 'Z' || stat->state == 'X' ? Liveness::exited : Liveness::running;
}

bool isRunning(const ProcessId& process) {
  return livenessOf(process) == Liveness::running;
}

int displayStatus(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) {
    return -WTERMSIG(waitStatus);
  }
  return WEXITSTATUS(waitStatus);
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return done();
    }
    std::this_thread::sleep_for(step);
  }
  return true;
}

}  // namespace launchctl
