#include "paths.h"

#include <cstdlib>

#include "file_io.h"
#include "platform.h"

namespace morvane {
namespace {

/// An absolute form of `path` without a trailing separator.
std::filesystem::path directoryPath(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error)
    absolute = path;
  std::string text = absolute.string();
  while (text.size() > 1 && text.back() == '/')
    text.pop_back();
  return text;
}

}  // namespace

Paths::Paths(std::filesystem::path directory) : root(directoryPath(directory)) {}

Paths Paths::defaultPaths() {
  if (const char* home = std::getenv("MORVANE_HOME"); home != nullptr && home[0] != '\0')
    return Paths(home);
  return Paths(platform::applicationSupportDirectory() / "Morvane");
}

Outcome Paths::ensureDirectories() const {
  return createDirectories(root);
}

}  // namespace morvane
