#include "process.h"

#include <sys/wait.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
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
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) {
    return std::nullopt;
  }
  // The command name may contain spaces and parentheses; the fields resume after the last ')'.
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) {
    return std::nullopt;
  }
  std::istringstream fields(line.substr(close + 1));
  ProcStat stat{};
  fields >> stat.state;
  std::string skipped;
  for (int field = 4; field < 22; ++field) {
    fields >> skipped;
  }
  fields >> stat.start;
  if (!fields) {
    return std::nullopt;
  }
  return stat;
}

}  // namespace

ProcessId identify(pid_t pid) {
  const std::optional<ProcStat> stat = readProcStat(pid);
  return {pid, stat ? stat->start : 0};
}

bool isRunning(const ProcessId& process) {
  if (process.pid <= 0) {
    return false;
  }
  const std::optional<ProcStat> stat = readProcStat(process.pid);
  if (!stat || stat->state == 'Z' || stat->state == 'X') {
    return false;
  }
  return process.start == 0 || stat->start == process.start;
}

bool exists(const ProcessId& process) {
  if (process.pid <= 0) {
    return false;
  }
  const std::optional<ProcStat> stat = readProcStat(process.pid);
  return stat && (process.start == 0 || stat->start == process.start);
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
