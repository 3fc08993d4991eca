#include "bundle_executable.h"

#include <plist/plist.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace open_app {
namespace {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};

/// CFBundleExecutable from the bundle's Info.plist, or empty.
std::string executableName(const std::filesystem::path& infoPlist) {
  std::ifstream file(infoPlist, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  const std::string text = bytes.str();
  if (text.empty())
    return "";
  plist_t parsed = nullptr;
  plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &parsed);
  std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter> root(parsed);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
    return "";
  plist_t value = plist_dict_get_item(root.get(), "CFBundleExecutable");
  if (value == nullptr || plist_get_node_type(value) != PLIST_STRING)
    return "";
  char* name = nullptr;
  plist_get_string_val(value, &name);
  std::string result = name != nullptr ? name : "";
  std::free(name);
  return result;
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
