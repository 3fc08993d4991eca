#pragma once

#include <filesystem>
#include <optional>

#include "systemd_engine.h"

namespace launchctl {

/// The engines one launchctl run works with. The engine that holds the user's loaded jobs (see
/// engine_record.h) takes every new job until none is loaded on it; when it does not answer,
/// the run fails rather than take the other one. With no job loaded, new jobs go to the systemd
/// engine when the user's manager answers (or MORVANE_JOB_ENGINE=systemd), else to the built-in
/// one. Jobs of the other engine (loaded before the engine was recorded) stay visible and can be
/// booted out, so a job is never lost nor run twice.
struct Engines {
  /// Present when a systemd user manager answers.
  std::optional<SystemdEngine> systemd;
  /// Whether new jobs go to `systemd`.
  bool systemdLoadsJobs = false;
  /// Whether the state directory already records the engine new jobs go to.
  bool recorded = false;

  /// Records the engine new jobs go to, unless it is recorded already; called under the state
  /// lock once a job has loaded.
  void record(const std::filesystem::path& stateDir);
};

/// Chooses the engines as the record and MORVANE_JOB_ENGINE say; on the systemd engine, also
/// installs the login unit on first use. Throws, with one line, for a value of
/// MORVANE_JOB_ENGINE it does not know, for "systemd" when no manager answers, for an engine
/// other than the one holding the loaded jobs, and when the manager holding them does not answer.
Engines chooseEngines();

}  // namespace launchctl
