// open: `open [-g] <bundle>` starts the bundle's executable in the background and returns. With
// a systemd user manager it runs in a unit of its own, in the desktop session; otherwise under a
// small keeper process of its own.

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "bundle_executable.h"
#include "connection.h"
#include "engine_choice.h"
#include "launch.h"
#include "session.h"
#include "unit_launch.h"

namespace {

/// `open --await-session <seconds> <application>`: the wait a unit started by open runs before
/// its application (see unit_launch.h).
int awaitSessionCommand(const std::vector<std::string>& args) {
  long long seconds = 0;
  if (args.size() != 3 ||
      std::from_chars(args[1].data(), args[1].data() + args[1].size(), seconds).ec != std::errc())
    return 2;
  return open_app::awaitSession(std::chrono::seconds(seconds), args[2]);
}

/// Starts the executable where it belongs; returns an empty text or the reason it did not start.
std::string start(const std::filesystem::path& executable) {
  const auto choice = user_manager::engineChoice();
  if (!choice)
    return choice.error();
  if (*choice == user_manager::EngineChoice::builtin)
    return open_app::launchDetached(executable);
  auto connection = user_manager::Connection::open();
  if (!connection) {
    if (*choice == user_manager::EngineChoice::systemd)
      return "MORVANE_JOB_ENGINE=systemd, but no systemd user manager answers: " +
             connection.error();
    return open_app::launchDetached(executable);
  }
  std::error_code error;
  const std::filesystem::path opener = std::filesystem::read_symlink("/proc/self/exe", error);
  return open_app::launchInUnit(*connection, executable, opener);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--await-session")
    return awaitSessionCommand(args);
  if (!args.empty() && args[0] == "-g")
    args.erase(args.begin());  // "do not bring to the foreground": nothing comes forward here
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    std::fputs("Usage: open [-g] <application bundle>\n", stderr);
    return 1;
  }
  std::string error;
  const std::filesystem::path executable = open_app::bundleExecutable(args[0], error);
  if (executable.empty() || !(error = start(executable)).empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
