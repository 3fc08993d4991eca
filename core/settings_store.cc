#include "settings_store.h"

#include "file_io.h"

namespace morvane {

SettingsStore::SettingsStore(Paths paths) : paths_(std::move(paths)) {
  auto bytes = readFile(paths_.settingsFile());
  std::optional<Settings> stored = bytes ? decodeSettings(*bytes) : std::nullopt;
  if (stored) {
    value_ = std::move(*stored);
  } else {
    save();
  }
}

void SettingsStore::update(const std::function<void(Settings&)>& change) {
  change(value_);
  save();
}

void SettingsStore::save() const {
  // Saving is best effort by design: the settings in memory stay authoritative for this run.
  (void)paths_.ensureDirectories();
  (void)writeFileAtomically(paths_.settingsFile(), encodeSettings(value_));
}

}  // namespace morvane
