#include "mode_settings.h"

#include "language.h"
#include "paths.h"
#include "unicode_text.h"

namespace morvane {

SettingsStore modeSettings(std::ostream& err) {
  SettingsStore store(Paths::defaultPaths());
  Language::apply(store.value().language);
  if (std::optional<std::string> problem = store.problem())
    err << visibleControlCharacters(*problem, Layout::lines) << "\n" << std::flush;
  return store;
}

}  // namespace morvane
