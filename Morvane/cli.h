#pragma once

#include <cstdint>
#include <ostream>

namespace morvane::CLI {

/// Prints the user's agents as a table followed by the loaded count; always 0.
int32_t list(std::ostream& out);

/// Drives a throw-away agent through read, load, unload, disable and load-while-disabled;
/// 0 when every step passed, else 1.
int32_t selfTest(std::ostream& out);

/// Updates the running bundle from the update server: reports the current and the newest
/// version, then (unless `checkOnly`) downloads and verifies the release, starts the installer
/// and asks this bundle's running instances to quit. 0 on success or when up to date, else 1.
int32_t update(bool checkOnly, std::ostream& out);

}  // namespace morvane::CLI
