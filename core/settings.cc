#include "settings.h"

#include <nlohmann/json.hpp>

namespace morvane {
namespace {

using nlohmann::json;

/// An optional member: absent and null both mean "use the default".
const json* member(const json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || found->is_null())
    return nullptr;
  return &*found;
}

std::optional<FriendlyNames> decodeFriendlyNames(const json& object) {
  if (!object.is_object())
    return std::nullopt;
  FriendlyNames names;
  for (const auto& [label, name] : object.items()) {
    if (!name.is_string())
      return std::nullopt;
    names[label] = name.get<std::string>();
  }
  return names;
}

/// Escapes every "/" as "\/"; a slash can only stand inside a string in JSON text.
std::string escapeSlashes(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '/')
      escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

const FriendlyNames& defaultFriendlyNames() {
  static const FriendlyNames names{
      {"actions.runner.foreground", "GitHub Runner (前台)"},
      {"actions.runner.morvane-dev.build-mac", "GitHub Runner (morvane-dev)"},
  };
  return names;
}

std::optional<Settings> decodeSettings(std::string_view text) {
  // The parser stops at a NUL byte as at the end of the text; the whole file has to be JSON.
  if (text.find('\0') != std::string_view::npos)
    return std::nullopt;
  json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!document.is_object())
    return std::nullopt;
  Settings settings;
  if (const json* autoUpdate = member(document, "autoUpdate")) {
    if (!autoUpdate->is_boolean())
      return std::nullopt;
    settings.autoUpdate = autoUpdate->get<bool>();
  }
  // Written by versions that notify on failures; older files without it read as on.
  if (const json* notify = member(document, "notifyOnFailure")) {
    if (!notify->is_boolean())
      return std::nullopt;
    settings.notifyOnFailure = notify->get<bool>();
  }
  if (const json* language = member(document, "language")) {
    if (!language->is_string())
      return std::nullopt;
    settings.language = language->get<std::string>();
  }
  if (const json* names = member(document, "friendlyNames")) {
    auto decoded = decodeFriendlyNames(*names);
    if (!decoded)
      return std::nullopt;
    settings.friendlyNames = std::move(*decoded);
  }
  for (const auto& [key, value] : document.items())
    if (key != "autoUpdate" && key != "language" && key != "friendlyNames" &&
        key != "notifyOnFailure")
      settings.otherMembers[key] = value.dump();
  return settings;
}

std::string encodeSettings(const Settings& settings) {
  json document = json::object();
  for (const auto& [key, text] : settings.otherMembers)
    document[key] = json::parse(text, nullptr, /*allow_exceptions=*/false);
  document["autoUpdate"] = settings.autoUpdate;
  document["friendlyNames"] = json(settings.friendlyNames);
  if (settings.language)
    document["language"] = *settings.language;
  document["notifyOnFailure"] = settings.notifyOnFailure;
  return escapeSlashes(document.dump(2, ' ', false, json::error_handler_t::replace)) + "\n";
}

}  // namespace morvane
