#pragma once

#include <expected>
#include <string>

namespace user_manager {

/// Which engine runs jobs: MORVANE_JOB_ENGINE=systemd or builtin forces one; unset (or empty),
/// the systemd user manager is used when one answers and the built-in supervisor otherwise.
enum class EngineChoice { automatic, builtin, systemd };

/// The choice MORVANE_JOB_ENGINE makes; the error is one line naming the values it takes.
std::expected<EngineChoice, std::string> engineChoice();

}  // namespace user_manager
