#pragma once

#include <string>
#include <vector>

#include "platform.h"

namespace morvane {

/// The running copies of the menu-bar application with this bundle identifier. The same
/// executable running one of its command-line modes (a listing, a self-test, an update) is no
/// instance: it has no menu and ends by itself.
std::vector<platform::RunningApplication> menuBarInstances(const std::string& identifier);

}  // namespace morvane
