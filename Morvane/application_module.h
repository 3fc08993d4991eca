#pragma once

#include "entry.h"

/// The name the application module exports its entry under.
#define MORVANE_MODULE_ENTRY "morvaneRunModuleMode"

/// The application module's entry: runs an update mode or the menu-bar application.
extern "C" int morvaneRunModuleMode(morvane::Mode mode, int argc, char** argv);

namespace morvane {

/// Loads the application module from the main bundle and runs `mode` in it; when the module
/// cannot be loaded, says why in one line and gives status 1.
int runApplicationModule(Mode mode, int argc, char** argv);

}  // namespace morvane
