#include "launch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace launchctl {
namespace {

/// Everything the child needs, prepared before fork so the child only makes system calls.
struct ExecPlan {
  std::vector<std::string> env_storage;
  std::vector<char*> argv;
  std::vector<char*> envp;
  const char* file = nullptr;
  bool search_path = false;
  const char* stdout_path = "/dev/null";
  const char* stderr_path = "/dev/null";
  const char* working_directory = nullptr;
};

/// Returns the invoker's environment with the job's variables added or replaced.
std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& extra) {
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

ExecPlan MakePlan(const JobConfig& config) {
  ExecPlan plan;
  plan.env_storage = MergedEnvironment(config.environment);
  for (const std::string& argument : config.arguments) {
    plan.argv.push_back(const_cast<char*>(argument.c_str()));
  }
  plan.argv.push_back(nullptr);
  for (std::string& entry : plan.env_storage) {
    plan.envp.push_back(entry.data());
  }
  plan.envp.push_back(nullptr);
  plan.search_path = config.program.empty();
  plan.file = plan.search_path ? config.arguments.front().c_str() : config.program.c_str();
  if (!config.stdout_path.empty()) {
    plan.stdout_path = config.stdout_path.c_str();
  }
  if (!config.stderr_path.empty()) {
    plan.stderr_path = config.stderr_path.c_str();
  }
  if (!config.working_directory.empty()) {
    plan.working_directory = config.working_directory.c_str();
  }
  return plan;
}

/// Opens `path` onto descriptor `target`; false on failure.
bool OpenOnto(int target, const char* path, int flags) {
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
[[noreturn]] void ExecChild(ExecPlan& plan) {
  setsid();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND;
  if (!OpenOnto(STDIN_FILENO, "/dev/null", O_RDONLY) ||
      !OpenOnto(STDOUT_FILENO, plan.stdout_path, kAppend) ||
      !OpenOnto(STDERR_FILENO, plan.stderr_path, kAppend)) {
    _exit(kExitCannotRun);
  }
  if (plan.working_directory != nullptr && chdir(plan.working_directory) != 0) {
    _exit(kExitCannotRun);
  }
  if (plan.search_path) {
    // execvp looks PATH up in environ, so the job's own PATH applies.
    environ = plan.envp.data();
    execvp(plan.file, plan.argv.data());
  } else {
    execve(plan.file, plan.argv.data(), plan.envp.data());
  }
  _exit(kExitCannotRun);
}

}  // namespace

pid_t LaunchJob(const JobConfig& config) {
  ExecPlan plan = MakePlan(config);
  const pid_t pid = fork();
  if (pid == 0) {
    ExecChild(plan);
  }
  return pid;
}

}  // namespace launchctl
