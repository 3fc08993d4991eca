#pragma once

#include <optional>
#include <string>
#include <string_view>

/// How the bundled launchctl names the systemd units of the agents it loads: the label escaped
/// as systemd escapes a string for a unit name ("/" becomes "-", and every byte outside
/// [A-Za-z0-9:_.], a leading "." and "-" itself become "\xNN"), after a fixed prefix, so any
/// label gives a valid name and the name gives the label back. A label whose escaped form would
/// make the name longer than 220 characters (systemd takes 255) keeps only its head and gains a
/// digest of the whole label;
/// such a name starts with "." after the prefix, which an escaped label never does.
namespace morvane::AgentUnits {

/// The prefix of every agent unit's name.
inline constexpr std::string_view kPrefix = "launchagent-";

/// The slice every agent's service runs in.
inline constexpr std::string_view kSlice = "launchagents.slice";

/// The unit name for `label` with `suffix` (".service" or ".timer").
std::string unitName(std::string_view label, std::string_view suffix);

/// `text` escaped as systemd escapes a string for a unit name (any length).
std::string escapedForUnitName(std::string_view text);

/// The label a unit name (with its suffix) stands for; absent when the name is not an agent
/// unit or carries only a digest of its label.
std::optional<std::string> labelOf(std::string_view unitName);

}  // namespace morvane::AgentUnits
