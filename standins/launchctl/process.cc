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
std::optional<ProcStat> ReadProcStat(pid_t pid) {
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

ProcessId Identify(pid_t pid) {
  const std::optional<ProcStat> stat = ReadProcStat(pid);
  return {pid, stat ? stat->start : 0};
}

bool IsRunning(const ProcessId& process) {
  if (process.pid <= 0) {
    return false;
  }
  const std::optional<ProcStat> stat = ReadProcStat(process.pid);
  if (!stat || stat->state == 'Z' || stat->state == 'X') {
    return false;
  }
  return process.start == 0 || stat->start == process.start;
}

bool Exists(const ProcessId& process) {
  if (process.pid <= 0) {
    return false;
  }
  const std::optional<ProcStat> stat = ReadProcStat(process.pid);
  return stat && (process.start == 0 || stat->start == process.start);
}

int DisplayStatus(int wait_status) {
  if (WIFSIGNALED(wait_status)) {
    return -WTERMSIG(wait_status);
  }
  return WEXITSTATUS(wait_status);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return done();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace launchctl
