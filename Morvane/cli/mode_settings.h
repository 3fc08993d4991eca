#pragma once

#include <ostream>

#include "settings_store.h"

namespace morvane {

/// The settings a command-line mode runs with, their language applied. When settings.json could
/// not be read the mode runs on the defaults, and `err` gets one line saying why.
SettingsStore modeSettings(std::ostream& err);

}  // namespace morvane
