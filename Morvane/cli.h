#pragma once

#include <cstdint>
#include <ostream>

namespace morvane::CLI {

/// Prints the user's agents as a table followed by the loaded count; always 0.
int32_t list(std::ostream& out);

/// Drives a throw-away agent through read, load, unload, disable and load-while-disabled;
/// 0 when every step passed, else 1. SIGINT, SIGTERM, SIGHUP or a closed output stop it at the
/// next step; it cleans up and gives 128 + the signal's number (SIGPIPE for the output).
int32_t selfTest(std::ostream& out);

}  // namespace morvane::CLI
