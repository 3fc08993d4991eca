#pragma once

#include <filesystem>
#include <string>

#include "failure.h"

/// "Launch at Login": a launch agent of the program's own in ~/Library/LaunchAgents that opens
/// the application at each graphical login. No launchctl command is run here; enabling takes
/// effect at the next login and disabling only removes the file.
namespace morvane::LoginItem {

/// ~/Library/LaunchAgents/<app identifier>.plist
std::filesystem::path path();

/// The login item's XML property list for the application bundle at `appPath`: it runs the
/// platform's open tool (platform::Tool::open) with "-g" on the bundle.
std::string propertyList(const std::string& appPath);

/// Whether anything (file or directory, whatever its content) lies at path().
bool isEnabled();

/// Writes (atomically, creating the directory) or removes the login item. The failure text is
/// the path and the system's description of what went wrong.
Outcome setEnabled(bool enabled, const std::string& appPath);

}  // namespace morvane::LoginItem
