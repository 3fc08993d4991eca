#include "engines.h"

#include <stdexcept>

#include "builtin_engine.h"
#include "engine_choice.h"
#include "engine_record.h"
#include "state.h"
#include "state_dir.h"
#include "state_lock.h"

namespace launchctl {
namespace {

namespace fs = std::filesystem;
using user_manager::EngineChoice;

/// Whether the built-in engine holds a loaded job.
bool builtinHoldsJobs(const fs::path& stateDir) {
  std::error_code ignored;
  if (!fs::exists(stateDir / "state.json", ignored)) {
    return false;
  }
  const StateLock lock(stateDir);
  return builtin::holdsLoadedJob(loadState(stateDir));
}

/// The engine holding the loaded jobs: the recorded one while it holds any, else the one that is
/// found holding some (jobs loaded before engines were recorded); nullopt when none is loaded.
/// A built-in record forced to stay built-in needs no look at its jobs.
std::optional<EngineRecord> heldEngine(const std::optional<EngineRecord>& record,
                                       EngineChoice choice, const fs::path& stateDir,
                                       const fs::path& runtime) {
  if (record && record->systemd && systemdHoldsJobs(record->runtimeDirectory)) {
    return record;
  }
  if (record && !record->systemd &&
      (choice == EngineChoice::builtin || builtinHoldsJobs(stateDir))) {
    return record;
  }
  if (systemdHoldsJobs(runtime)) {
    return EngineRecord{true, runtime};
  }
  if ((!record || record->systemd) && builtinHoldsJobs(stateDir)) {
    return EngineRecord{};
  }
  return std::nullopt;
}

const char* engineText(bool systemd) {
  return systemd ? "the systemd user manager" : "the built-in supervisor";
}

/// Works with the engine that holds the loaded jobs, or fails saying why it cannot.
Engines heldEngines(const EngineRecord& held, EngineChoice choice, const fs::path& runtime) {
  if (choice != EngineChoice::automatic && (choice == EngineChoice::systemd) != held.systemd) {
    throw std::runtime_error(
        std::string("the loaded jobs run on ") + engineText(held.systemd) +
        "; MORVANE_JOB_ENGINE=" + (choice == EngineChoice::systemd ? "systemd" : "builtin") +
        " takes effect once none of them is loaded");
  }
  Engines engines;
  if (held.systemd) {
    auto connection = user_manager::Connection::open(held.runtimeDirectory);
    if (!connection) {
      throw std::runtime_error("the loaded jobs run on the systemd user manager of " +
                               held.runtimeDirectory.string() +
                               ", which does not answer: " + connection.error());
    }
    engines.systemd.emplace(std::move(*connection), stateDirectory());
    engines.systemdLoadsJobs = true;
  } else if (systemdHoldsJobs(runtime)) {
    // Jobs a manager took before the engine was recorded stay visible while it answers.
    if (auto connection = user_manager::Connection::open(runtime)) {
      engines.systemd.emplace(std::move(*connection), stateDirectory());
    }
  }
  return engines;
}

/// With no job loaded: the manager when it answers and is not refused, else the built-in one.
Engines freeEngines(EngineChoice choice, const fs::path& runtime) {
  Engines engines;
  if (choice == EngineChoice::builtin) {
    return engines;
  }
  auto connection = user_manager::Connection::open(runtime);
  if (!connection && choice == EngineChoice::systemd) {
    throw std::runtime_error("MORVANE_JOB_ENGINE=systemd, but no systemd user manager answers: " +
                             connection.error());
  }
  if (connection) {
    engines.systemd.emplace(std::move(*connection), stateDirectory());
    engines.systemdLoadsJobs = true;
  }
  return engines;
}

}  // namespace

void Engines::record(const fs::path& stateDir) {
  if (recorded) {
    return;
  }
  writeEngineRecord(stateDir, systemdLoadsJobs ? EngineRecord{true, systemd->runtimeDirectory()}
                                               : EngineRecord{});
  recorded = true;
}

Engines chooseEngines() {
  const auto choice = user_manager::engineChoice();
  if (!choice) {
    throw std::runtime_error(choice.error());
  }
  const fs::path stateDir = stateDirectoryPath();
  const fs::path runtime = user_manager::userRuntimeDirectory();
  const std::optional<EngineRecord> record = readEngineRecord(stateDir);
  const std::optional<EngineRecord> held = heldEngine(record, *choice, stateDir, runtime);
  Engines engines = held ? heldEngines(*held, *choice, runtime) : freeEngines(*choice, runtime);
  engines.recorded =
      record && record->systemd == engines.systemdLoadsJobs &&
      (!record->systemd || record->runtimeDirectory == engines.systemd->runtimeDirectory());
  if (engines.systemdLoadsJobs) {
    engines.systemd->ensureLoginUnit();
  }
  return engines;
}

}  // namespace launchctl
