#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morvane {

/// The name of a signal by its number on this system, "SIGTERM" for SIGTERM; absent for a number
/// that names no signal.
std::optional<std::string> signalName(int64_t number);

}  // namespace morvane
