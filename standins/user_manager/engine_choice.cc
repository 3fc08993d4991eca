#include "engine_choice.h"

#include <cstdlib>

namespace user_manager {

std::expected<EngineChoice, std::string> engineChoice() {
  const char* value = std::getenv("MORVANE_JOB_ENGINE");
  if (value == nullptr || *value == '\0') {
    return EngineChoice::automatic;
  }
  const std::string text = value;
  if (text == "systemd") {
    return EngineChoice::systemd;
  }
  if (text == "builtin") {
    return EngineChoice::builtin;
  }
  return std::unexpected("MORVANE_JOB_ENGINE is \"" + text +
                         "\"; it takes \"systemd\" or \"builtin\" (or is left unset)");
}

}  // namespace user_manager
