#include "virtual_display.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace morvane::testing {
namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr const char* kTrayer = "/usr/bin/trayer";
constexpr const char* kXdotool = "/usr/bin/xdotool";

/// Starts `arguments` with `environment` and its output on the null device, keeping the
/// descriptor `keep` open in the child; everything is prepared before the fork.
pid_t spawn(std::vector<std::string> arguments, std::vector<std::string> environment,
            int keep = -1) {
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& variable : environment)
    envp.push_back(variable.data());
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    if (keep >= 0)
      ::fcntl(keep, F_SETFD, 0);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

std::vector<std::string> environmentWith(const std::string& variable) {
  std::vector<std::string> environment{variable};
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (!std::string(*entry).starts_with("DISPLAY="))
      environment.emplace_back(*entry);
  return environment;
}

void endChild(pid_t pid) {
  if (pid <= 0)
    return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace

VirtualDisplay::VirtualDisplay() {
  for (const char* tool : {kXvfb, kTrayer, kXdotool})
    if (!std::filesystem::exists(tool)) {
      problem_ = std::string(tool) + " is missing: scripts/install-deps installs it";
      return;
    }
  // Xvfb picks a free display itself and writes its number once it accepts clients.
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0) {
    problem_ = "no pipe";
    return;
  }
  server_ = spawn({kXvfb, "-displayfd", std::to_string(ready[1]), "-screen", "0", "800x400x24",
                   "-nolisten", "tcp"},
                  environmentWith("DISPLAY="), ready[1]);
  ::close(ready[1]);
  std::string number;
  char c = 0;
  while (::read(ready[0], &c, 1) == 1 && c != '\n')
    number += c;
  ::close(ready[0]);
  if (number.empty()) {
    problem_ = "Xvfb did not start";
    return;
  }
  name_ = ":" + number;
  tray_ = spawn({kTrayer, "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                 "200", "--height", "24"},
                environmentWith("DISPLAY=" + name_));
}

VirtualDisplay::~VirtualDisplay() {
  endChild(tray_);
  endChild(server_);
}

ShellResult VirtualDisplay::xdotool(const std::vector<std::string>& arguments) const {
  return Shell::run(kXdotool, arguments, 30, {{"DISPLAY", name_}});
}

size_t VirtualDisplay::visibleWindows(pid_t pid) const {
  const ShellResult found = xdotool({"search", "--onlyvisible", "--pid", std::to_string(pid)});
  std::istringstream lines(found.standardOutput);
  size_t windows = 0;
  for (std::string line; std::getline(lines, line);)
    windows += !line.empty();
  return windows;
}

}  // namespace morvane::testing
