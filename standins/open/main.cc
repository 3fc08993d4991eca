// open: `open [-g] [--pid] <bundle>` starts the bundle's executable in the background and
// returns. With a systemd user manager it runs in a unit of its own, in the desktop session;
// otherwise under a small keeper process of its own. With --pid it prints the process id of the
// executable it started, once that runs (nothing while its unit still waits for a session), so
// whoever opened it can watch that very process. `open --has-session` tells whether a desktop
// session has published its display to the user's manager.

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

/// `open --has-session`: exit status 0 when an application opened now would reach a desktop
/// session through the user's manager (one has published its display there), else 1.
int hasSessionCommand() {
  const auto choice = user_manager::engineChoice();
  if (!choice || *choice == user_manager::EngineChoice::builtin)
    return 1;
  auto connection = user_manager::Connection::open();
  if (!connection)
    return 1;
  try {
    return open_app::hasDisplay(connection->environment()) ? 0 : 1;
  } catch (const user_manager::ManagerError&) {
    return 1;
  }
}

/// Starts the executable where it belongs; returns an empty text or the reason it did not start.
/// `started` receives its pid when it is known.
std::string start(const std::filesystem::path& executable, pid_t& started) {
  const auto choice = user_manager::engineChoice();
  if (!choice)
    return choice.error();
  if (*choice == user_manager::EngineChoice::builtin)
    return open_app::launchDetached(executable, &started);
  auto connection = user_manager::Connection::open();
  if (!connection) {
    if (*choice == user_manager::EngineChoice::systemd)
      return "MORVANE_JOB_ENGINE=systemd, but no systemd user manager answers: " +
             connection.error();
    return open_app::launchDetached(executable, &started);
  }
  std::error_code error;
  const std::filesystem::path opener = std::filesystem::read_symlink("/proc/self/exe", error);
  return open_app::launchInUnit(*connection, executable, opener, &started);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--await-session")
    return awaitSessionCommand(args);
  if (args.size() == 1 && args[0] == "--has-session")
    return hasSessionCommand();
  if (!args.empty() && args[0] == "-g")
    args.erase(args.begin());  // "do not bring to the foreground": nothing comes forward here
  const bool reportPid = !args.empty() && args[0] == "--pid";
  if (reportPid)
    args.erase(args.begin());
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    std::fputs("Usage: open [-g] [--pid] <application bundle>\n", stderr);
    return 1;
  }
  std::string error;
  pid_t started = 0;
  const std::filesystem::path executable = open_app::bundleExecutable(args[0], error);
  if (executable.empty() || !(error = start(executable, started)).empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (reportPid && started > 0)
    std::printf("%d\n", static_cast<int>(started));
  return 0;
}
