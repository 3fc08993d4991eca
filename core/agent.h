#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morvane {

/// One launch agent: its property list and what the service manager says of it.
struct Agent {
  /// The property list's name in its directory, ".plist" included.
  std::string file;
  /// The property list's full path.
  std::string path;
  /// The agent's label: the plist's "Label", else the file name without its extension.
  std::string label;
  /// Whether `launchctl list` lists the label.
  bool loaded = false;
  /// The process id `launchctl list` shows; absent when not loaded or not running.
  std::optional<int64_t> pid;
  /// Whether the label is disabled in the user's GUI domain.
  bool disabled = false;

  friend bool operator==(const Agent&, const Agent&) = default;
};

}  // namespace morvane
