#include <cstdlib>

#include "updater.h"

namespace morvane::Updater {

const std::optional<std::string>& overrideBaseURL() {
  static const std::optional<std::string> value = []() -> std::optional<std::string> {
    const char* text = std::getenv("MORVANE_UPDATE_URL");
    if (text == nullptr || text[0] == '\0')
      return std::nullopt;
    return std::string(text);
  }();
  return value;
}

std::string baseURL() {
  return overrideBaseURL().value_or(std::string(defaultBaseURL));
}

std::string Release::url() const {
  return baseURL() + "/Morvane-" + version + ".zip";
}

std::filesystem::path stagingDirectory(const Paths& paths) {
  return paths.root / "update";
}

std::filesystem::path installerScriptPath(const Paths& paths) {
  return paths.root / "update-install.sh";
}

std::filesystem::path installerSwapPath(const Paths& paths) {
  return paths.root / "update-swap";
}

std::filesystem::path installLogPath(const Paths& paths) {
  return paths.root / "update.log";
}

std::filesystem::path updateLockPath(const Paths& paths) {
  return paths.root / "update.lock";
}

std::filesystem::path bundleLockPath(const std::filesystem::path& appPath) {
  return appPath.string() + ".update.lock";
}

}  // namespace morvane::Updater
