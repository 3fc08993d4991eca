#pragma once

#include <string>
#include <vector>

#include "platform.h"

namespace morvane {

/// This user's running copies of the menu-bar application with this bundle identifier. The same
/// executable running one of its command-line modes (a listing, a self-test, an update) is no
/// instance: it has no menu and ends by itself. Other users' copies are theirs to run.
std::vector<platform::RunningApplication> menuBarInstances(const std::string& identifier);

}  // namespace morvane
