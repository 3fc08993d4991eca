#pragma once

#include <chrono>
#include <map>
#include <string>

namespace open_app {

/// The variables that tie a program to the desktop session; a caller without DISPLAY and
/// WAYLAND_DISPLAY has none of the session's, and the application takes all four from the user
/// manager, where the desktop session publishes them.
inline constexpr const char* kSessionVariables[] = {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY",
                                                    "DBUS_SESSION_BUS_ADDRESS"};

/// How long an application waits for a desktop session to publish its display.
inline constexpr std::chrono::minutes kSessionPatience(10);

/// Whether `environment` names a display (DISPLAY or WAYLAND_DISPLAY, not empty).
bool hasDisplay(const std::map<std::string, std::string>& environment);

/// This process's environment.
std::map<std::string, std::string> ownEnvironment();

/// Waits, polling the user manager's environment, until a desktop session has published its
/// display there; returns 0 then. After `patience` it says on standard error (the journal, under
/// systemd) that it gives up, and returns 1, so the application is not started.
int awaitSession(std::chrono::seconds patience, const std::string& application);

}  // namespace open_app
