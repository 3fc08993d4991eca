#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace open_app {

/// Starts `executable` detached: a new session, the inherited environment, standard streams on
/// /dev/null, and no descriptors of the caller. A small keeper process is its parent and reaps
/// it, so its pid is gone once it exits. Returns when the program has been executed (or could
/// not be): an empty text, else the reason. `started`, when given, receives the program's pid.
std::string launchDetached(const std::filesystem::path& executable, pid_t* started = nullptr);

}  // namespace open_app
