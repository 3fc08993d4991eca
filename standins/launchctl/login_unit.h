#pragma once

#include <filesystem>
#include <string>

#include "connection.h"

namespace launchctl {

/// The name of the unit that loads the agents at login.
inline constexpr const char* kLoginUnit = "launchagents-login.service";

/// What launchd does at login, as a unit of the user's manager: at every start of the manager
/// (its default.target), it bootstraps every property list in ~/Library/LaunchAgents through
/// this launchctl; disabled agents are refused there and so stay unloaded.
std::string loginUnitText(const std::filesystem::path& launchctl);

/// Writes the login unit into ~/.config/systemd/user and enables it, unless a file of the same
/// text is there already; there is only ever the one unit.
void installLoginUnit(user_manager::Connection& connection);

}  // namespace launchctl
