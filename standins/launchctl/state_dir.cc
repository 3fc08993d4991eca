#include "state_dir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace launchctl {

std::filesystem::path homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    return home;
  }
  const passwd* entry = getpwuid(getuid());
  if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') {
    throw std::runtime_error("cannot determine the home directory");
  }
  return entry->pw_dir;
}

std::filesystem::path stateDirectoryPath() {
  return homeDirectory() / ".launchd-standin";
}

std::filesystem::path stateDirectory() {
  std::filesystem::path dir = stateDirectoryPath();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::system_error(errno, std::generic_category(), dir.string());
  }
  return dir;
}

}  // namespace launchctl
