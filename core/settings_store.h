#pragma once

#include <functional>

#include "paths.h"
#include "settings.h"

namespace morvane {

/// Holds the user's settings and keeps settings.json in step with them.
///
/// Not thread-safe: one thread owns a store.
class SettingsStore {
 public:
  /// Reads settings.json; a missing or unreadable file gives the defaults, written back at once.
  explicit SettingsStore(Paths paths);

  /// The current settings.
  const Settings& value() const { return value_; }

  /// Changes the settings in place and saves them; a failed save keeps the change in memory.
  void update(const std::function<void(Settings&)>& change);

 private:
  void save() const;

  Paths paths_;
  Settings value_;
};

}  // namespace morvane
