#include "bundle_executable.h"

#include <plist/plist.h>
#include <unistd.h>

#include "file_io.h"
#include "property_list.h"

namespace open_app {
namespace {

/// CFBundleExecutable from the bundle's Info.plist, or empty. Only a regular file of sane size
/// is read: a FIFO would block and a device would never end.
std::string executableName(const std::filesystem::path& infoPlist) {
  const auto text = morvane::readRegularFile(infoPlist);
  if (!text || text->empty())
    return "";
  const morvane::PlistPtr root = morvane::parsePropertyList(*text);
  if (!root)
    return "";
  return morvane::dictionaryString(root.get(), "CFBundleExecutable").value_or("");
}

}  // namespace

std::filesystem::path bundleExecutable(const std::filesystem::path& bundle, std::string& error) {
  std::error_code missing;
  if (!std::filesystem::exists(bundle, missing)) {
    error = "The file " + bundle.string() + " does not exist.";
    return {};
  }
  const std::string name = executableName(bundle / "Contents" / "Info.plist");
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
    error = bundle.string() + " is not an application bundle.";
    return {};
  }
  const std::filesystem::path executable = bundle / "Contents" / "MacOS" / name;
  if (::access(executable.c_str(), X_OK) != 0) {
    error = "The application cannot be opened: " + executable.string() + " is not executable.";
    return {};
  }
  return executable;
}

}  // namespace open_app
