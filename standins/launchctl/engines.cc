#include "engines.h"

#include <stdexcept>

#include "engine_choice.h"
#include "state_dir.h"

namespace launchctl {

Engines chooseEngines() {
  const auto choice = user_manager::engineChoice();
  if (!choice) {
    throw std::runtime_error(choice.error());
  }
  Engines engines;
  auto connection = user_manager::Connection::open();
  if (!connection && *choice == user_manager::EngineChoice::systemd) {
    throw std::runtime_error("MORVANE_JOB_ENGINE=systemd, but no systemd user manager answers: " +
                             connection.error());
  }
  if (connection) {
    engines.systemd.emplace(std::move(*connection), stateDirectory());
    engines.systemdLoadsJobs = *choice != user_manager::EngineChoice::builtin;
  }
  if (engines.systemdLoadsJobs) {
    engines.systemd->ensureLoginUnit();
  }
  return engines;
}

}  // namespace launchctl
