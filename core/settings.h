#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

/// Display names for agents, keyed by launchd label.
using FriendlyNames = std::map<std::string, std::string>;

/// The names the program knows before the user sets any.
const FriendlyNames& defaultFriendlyNames();

/// What the user has chosen.
struct Settings {
  /// Whether the menu-bar application checks for updates by itself.
  bool autoUpdate = true;
  /// "zh", "en" or another preference; absent to follow the environment and the system.
  std::optional<std::string> language;
  /// Display names that replace labels wherever an agent is named.
  FriendlyNames friendlyNames = defaultFriendlyNames();
  /// Whether the menu-bar application shows a notice when a run of an agent fails.
  bool notifyOnFailure = true;
  /// Members the program does not know (a user's own notes, a later version's settings), each
  /// as its JSON text, written back as they were read.
  std::map<std::string, std::string> otherMembers = {};

  friend bool operator==(const Settings&, const Settings&) = default;
};

/// Reads settings.json; absent when it is no JSON object or a member has the wrong type.
std::optional<Settings> decodeSettings(std::string_view json);

/// Writes settings.json: indented, keys sorted, "language" only when set, "notifyOnFailure"
/// always, the other members kept,
/// "/" escaped.
std::string encodeSettings(const Settings& settings);

}  // namespace morvane
