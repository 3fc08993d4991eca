#pragma once

// The systemd user manager a command benchmark measures the systemd engine on.

#include <stdlib.h>

#include <cstdlib>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "user_manager_sandbox.h"

namespace morvane::bench {

/// When MORVANE_JOB_ENGINE asks for the systemd engine, starts a user manager of the
/// benchmark's own on `home` and sets its environment for every run that follows; null on the
/// built-in engine, and an error when no manager can start here.
inline std::expected<std::unique_ptr<testing::UserManagerSandbox>, std::string>
userManagerForEngine(const std::filesystem::path& home) {
  const char* engine = std::getenv("MORVANE_JOB_ENGINE");
  if (engine == nullptr || std::string_view(engine) != "systemd")
    return nullptr;
  auto started = testing::UserManagerSandbox::start({home, false});
  if (!started)
    return std::unexpected(started.error());
  for (const auto& [name, value] : (*started)->environment())
    ::setenv(name.c_str(), value.c_str(), 1);
  return std::move(*started);
}

}  // namespace morvane::bench
