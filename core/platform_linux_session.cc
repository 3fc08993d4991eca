// Whether an application started now would find a desktop to show itself on.

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform.h"
#include "shell.h"

namespace morvane::platform {
namespace {

constexpr double kSessionQueryTimeout = 10;

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

/// WAYLAND_DISPLAY names a socket that is there: an absolute path, or a name in XDG_RUNTIME_DIR.
bool hasWaylandSocket() {
  const std::filesystem::path name = environmentValue("WAYLAND_DISPLAY");
  if (name.empty())
    return false;
  const std::filesystem::path socket =
      name.is_absolute() ? name : std::filesystem::path(environmentValue("XDG_RUNTIME_DIR")) / name;
  std::error_code error;
  return std::filesystem::is_socket(socket, error);
}

}  // namespace

bool canStartApplicationHere() {
  if (!environmentValue("QT_QPA_PLATFORM").empty() || !environmentValue("DISPLAY").empty() ||
      hasWaylandSocket())
    return true;
  // Without one of its own, the bundled open takes the session a desktop published to the
  // user's manager.
  return Shell::run(toolPath(Tool::open), {"--has-session"}, kSessionQueryTimeout).ok();
}

}  // namespace morvane::platform
