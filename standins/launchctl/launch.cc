#include "launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace launchctl {
namespace {

/// Everything the child needs, prepared before fork so the child only makes system calls.
struct ExecPlan {
  std::vector<std::string> envStorage;
  std::vector<char*> argv;
  std::vector<char*> envp;
  const char* file = nullptr;
  bool searchPath = false;
  const char* standardInPath = "/dev/null";
  const char* standardOutPath = "/dev/null";
  const char* standardErrorPath = "/dev/null";
  const char* workingDirectory = nullptr;
  std::optional<int> nice;
  std::optional<mode_t> umask;
};

/// Returns the invoker's environment with the job's variables added or replaced.
std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
  std::vector<std::string> merged;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text(*entry);
    if (!extra.contains(text.substr(0, text.find('=')))) {
      merged.push_back(text);
    }
  }
  for (const auto& [name, value] : extra) {
    merged.push_back(name + "=" + value);
  }
  return merged;
}

ExecPlan makePlan(const JobConfig& config) {
  ExecPlan plan;
  plan.envStorage = mergedEnvironment(config.environment);
  for (const std::string& argument : config.arguments) {
    plan.argv.push_back(const_cast<char*>(argument.c_str()));
  }
  plan.argv.push_back(nullptr);
  for (std::string& entry : plan.envStorage) {
    plan.envp.push_back(entry.data());
  }
  plan.envp.push_back(nullptr);
  plan.searchPath = config.program.empty();
  plan.file = plan.searchPath ? config.arguments.front().c_str() : config.program.c_str();
  if (!config.standardInPath.empty()) {
    plan.standardInPath = config.standardInPath.c_str();
  }
  if (!config.standardOutPath.empty()) {
    plan.standardOutPath = config.standardOutPath.c_str();
  }
  if (!config.standardErrorPath.empty()) {
    plan.standardErrorPath = config.standardErrorPath.c_str();
  }
  if (!config.workingDirectory.empty()) {
    plan.workingDirectory = config.workingDirectory.c_str();
  }
  plan.nice = config.nice;
  plan.umask = config.umask;
  return plan;
}

/// Opens `path` onto descriptor `target`; false on failure.
bool openOnto(int target, const char* path, int flags) {
  const int fd = open(path, flags, 0644);
  if (fd < 0) {
    return false;
  }
  if (fd != target) {
    const bool moved = dup2(fd, target) == target;
    close(fd);
    return moved;
  }
  return true;
}

/// Runs in the forked child: sets up the job's surroundings and executes its program.
[[noreturn]] void execChild(ExecPlan& plan) {
  setsid();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND;
  if (plan.umask) {
    umask(*plan.umask);
  }
  // Paths are taken from the root directory, where jobs start.
  if (!openOnto(STDIN_FILENO, plan.standardInPath, O_RDONLY) ||
      !openOnto(STDOUT_FILENO, plan.standardOutPath, kAppend) ||
      !openOnto(STDERR_FILENO, plan.standardErrorPath, kAppend)) {
    _exit(kExitCannotRun);
  }
  if (plan.workingDirectory != nullptr && chdir(plan.workingDirectory) != 0) {
    _exit(kExitCannotRun);
  }
  if (plan.nice) {
    // A priority the user may not take (a negative one, for most) leaves the job at its
    // inherited one, as the user's systemd manager does.
    setpriority(PRIO_PROCESS, 0, *plan.nice);
  }
  if (plan.searchPath) {
    // execvp looks PATH up in environ, so the job's own PATH applies.
    environ = plan.envp.data();
    execvp(plan.file, plan.argv.data());
  } else {
    execve(plan.file, plan.argv.data(), plan.envp.data());
  }
  _exit(kExitCannotRun);
}

}  // namespace

pid_t launchJob(const JobConfig& config) {
  ExecPlan plan = makePlan(config);
  const pid_t pid = fork();
  if (pid == 0) {
    execChild(plan);
  }
  return pid;
}

}  // namespace launchctl
