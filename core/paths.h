#pragma once

#include <filesystem>

#include "failure.h"

namespace morvane {

/// Where the program keeps its own files.
struct Paths {
  /// The data directory: settings, the agents' labels, the staged update, the installer script and
  /// its log.
  std::filesystem::path root;

  explicit Paths(std::filesystem::path root);

  /// MORVANE_HOME when set and not empty (taken literally, relative to the working directory),
  /// else "Morvane" in the user's application-support directory.
  static Paths defaultPaths();

  /// root/settings.json
  std::filesystem::path settingsFile() const { return root / "settings.json"; }

  /// root/agent-labels.json: the agents' labels as last read, for finding one by name.
  std::filesystem::path agentLabelsFile() const { return root / "agent-labels.json"; }

  /// Creates the data directory and any missing parents; succeeds when it exists.
  Outcome ensureDirectories() const;
};

}  // namespace morvane
