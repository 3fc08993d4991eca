#pragma once

#include <functional>
#include <optional>
#include <string>

#include "paths.h"
#include "settings.h"

namespace morvane {

/// Holds the user's settings and keeps settings.json in step with them.
///
/// Not thread-safe: one thread owns a store.
class SettingsStore {
 public:
  /// The largest settings.json read: far beyond what tens of thousands of friendly names take.
  static constexpr size_t kReadLimit = size_t{32} << 20;  // 32 MiB

  /// Reads settings.json. A missing file gives the defaults, written back at once. A file that
  /// is there but cannot be read or holds no valid settings gives the defaults as well, but is
  /// never written over: see problem().
  explicit SettingsStore(Paths paths);

  /// The current settings.
  const Settings& value() const { return value_; }

  /// Changes the settings in place and saves them; a failed save keeps the change in memory.
  /// While problem() is set nothing is saved, so the unread file stays as it is.
  void update(const std::function<void(Settings&)>& change);

  /// Why settings.json could not be used, in the current language; absent when it could (or
  /// did not exist yet).
  std::optional<std::string> problem() const;

 private:
  void save() const;

  Paths paths_;
  Settings value_;
  /// Why the file could not be read ("path: reason"); empty when it was read but holds no valid
  /// settings; absent when it was used or missing.
  std::optional<std::string> unreadable_;
};

}  // namespace morvane
