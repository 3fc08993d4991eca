#pragma once

#include <optional>
#include <string>

#include "settings.h"

namespace morvane {

/// The friendly name the settings give a label, when there is one.
inline std::optional<std::string> friendlyName(const std::string& label,
                                               const FriendlyNames& names) {
  auto name = names.find(label);
  return name != names.end() ? std::optional(name->second) : std::nullopt;
}

/// How the user knows an agent: its friendly name when the settings have one, else its label.
inline std::string displayName(const std::string& label, const FriendlyNames& names) {
  return friendlyName(label, names).value_or(label);
}

}  // namespace morvane
