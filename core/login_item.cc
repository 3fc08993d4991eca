#include "login_item.h"

#include <system_error>

#include "app_identifier.h"
#include "file_io.h"
#include "platform.h"
#include "property_list.h"

namespace morvane::LoginItem {

std::filesystem::path path() {
  return platform::homeDirectory() / "Library" / "LaunchAgents" /
         (std::string(kAppIdentifier) + ".plist");
}

std::string propertyList(const std::string& appPath) {
  PlistPtr dictionary(plist_new_dict());
  plist_dict_set_item(dictionary.get(), "Label",
                      plist_new_string(std::string(kAppIdentifier).c_str()));
  plist_t arguments = plist_new_array();
  // The platform's own open tool: on Linux the one in the bundle, which starts the application
  // in the desktop session even when the service manager runs it before the desktop is up.
  plist_array_append_item(arguments,
                          plist_new_string(platform::toolPath(platform::Tool::open).c_str()));
  plist_array_append_item(arguments, plist_new_string("-g"));
  plist_array_append_item(arguments, plist_new_string(appPath.c_str()));
  plist_dict_set_item(dictionary.get(), "ProgramArguments", arguments);
  plist_dict_set_item(dictionary.get(), "RunAtLoad", plist_new_bool(1));
  plist_dict_set_item(dictionary.get(), "LimitLoadToSessionType", plist_new_string("Aqua"));
  return toXmlPropertyList(dictionary.get());
}

bool isEnabled() {
  std::error_code error;
  return std::filesystem::exists(path(), error);
}

Outcome setEnabled(bool enabled, const std::string& appPath) {
  const std::filesystem::path file = path();
  if (enabled) {
    if (Outcome created = createDirectories(file.parent_path()); !created)
      return created;
    return writeFileAtomically(file, propertyList(appPath));
  }
  std::error_code error;
  std::filesystem::remove_all(file, error);
  if (error)
    return fail(file.string() + ": " + error.message());
  return {};
}

}  // namespace morvane::LoginItem
