#pragma once

#include <filesystem>
#include <string>

#include "connection.h"

namespace open_app {

/// Starts `executable` as a service of the user's systemd manager, a unit of its own that
/// outlives whoever opened it: the caller's environment, except that a caller without a display
/// leaves the session's variables to the manager's environment, waiting (via `opener
/// --await-session`) until a desktop session has published them. Its own children outlive it
/// too (an installer it hands over to must). Returns an empty text, or why it could not start.
/// `started`, when given, receives the application's pid once it runs; it stays untouched while
/// the unit still waits for a session, since nothing of the application runs yet.
std::string launchInUnit(user_manager::Connection& connection,
                         const std::filesystem::path& executable,
                         const std::filesystem::path& opener, pid_t* started = nullptr);

}  // namespace open_app
