#include "session.h"

#include <cstdio>
#include <thread>

#include "connection.h"

extern char** environ;

namespace open_app {

bool hasDisplay(const std::map<std::string, std::string>& environment) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    if (const auto found = environment.find(name);
        found != environment.end() && !found->second.empty())
      return true;
  }
  return false;
}

std::map<std::string, std::string> ownEnvironment() {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const size_t equals = text.find('=');
    if (equals != std::string::npos)
      environment.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  return environment;
}

int awaitSession(std::chrono::seconds patience, const std::string& application) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  auto connection = user_manager::Connection::open();
  if (!connection) {
    std::fprintf(stderr, "open: no user manager to learn the desktop session from (%s)\n",
                 connection.error().c_str());
    return 1;
  }
  try {
    while (!hasDisplay(connection->environment())) {
      if (std::chrono::steady_clock::now() >= deadline) {
        std::fprintf(stderr,
                     "open: no desktop session published DISPLAY or WAYLAND_DISPLAY in %lld s; "
                     "%s is not started\n",
                     static_cast<long long>(patience.count()), application.c_str());
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  } catch (const user_manager::ManagerError& error) {
    std::fprintf(stderr, "open: %s\n", error.what());
    return 1;
  }
  return 0;
}

}  // namespace open_app
