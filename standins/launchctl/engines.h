#pragma once

#include <optional>

#include "systemd_engine.h"

namespace launchctl {

/// The engines one launchctl run works with. New jobs go to the systemd engine when the user's
/// manager answers (or MORVANE_JOB_ENGINE=systemd), else to the built-in one; jobs of the other
/// engine stay visible and can be booted out, so a job loaded before a manager appeared (or
/// after it went) is never lost nor run twice.
struct Engines {
  /// Present when a systemd user manager answers.
  std::optional<SystemdEngine> systemd;
  /// Whether new jobs go to `systemd`.
  bool systemdLoadsJobs = false;
};

/// Chooses the engines as MORVANE_JOB_ENGINE says; on the systemd engine, also installs the
/// login unit on first use. Throws, with one line, for a value it does not know or for
/// "systemd" when no manager answers.
Engines chooseEngines();

}  // namespace launchctl
