#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

/// The name of a signal by its number on this system, "SIGTERM" for SIGTERM; absent for a number
/// that names no signal.
std::optional<std::string> signalName(int64_t number);

/// The number of the signal named `name`, with or without "SIG" ("TERM", "SIGTERM"); absent for
/// a name of no signal.
std::optional<int> signalNumber(std::string_view name);

}  // namespace morvane
