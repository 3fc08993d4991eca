#include "language.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>

namespace morvane {
namespace {

/// The current language; read from any thread, written whole.
std::atomic<Language::Value> currentLanguage{Language::english};
std::once_flag currentLanguageDetected;

void detectOnce() {
  std::call_once(currentLanguageDetected,
                 [] { currentLanguage.store(Language::detect(std::nullopt)); });
}

/// Lower-cased, does the text begin with "zh"?
Language::Value fromCode(std::string code) {
  std::transform(code.begin(), code.end(), code.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return code.starts_with("zh") ? Language::chinese : Language::english;
}

}  // namespace

Language::Value Language::current() {
  detectOnce();
  return currentLanguage.load();
}

Language::Value Language::detect(const std::optional<std::string>& preference) {
  if (const char* forced = std::getenv("MORVANE_LANG"); forced != nullptr && forced[0] != '\0')
    return fromCode(forced);
  if (preference && !preference->empty())
    return fromCode(*preference);
  return fromSystem(platform::mainBundle(), platform::preferredLanguages());
}

void Language::apply(const std::optional<std::string>& preference) {
  detectOnce();
  currentLanguage.store(detect(preference));
}

Language::Value Language::fromSystem(const platform::Bundle& bundle,
                                     const std::vector<std::string>& preferredLanguages) {
  bool offersChinese = std::any_of(bundle.localizations.begin(), bundle.localizations.end(),
                                   [](const std::string& name) { return name.starts_with("zh"); });
  std::vector<std::string> deciding =
      offersChinese ? platform::preferredLocalizations(bundle, preferredLanguages)
                    : preferredLanguages;
  return fromCode(deciding.empty() ? "zh" : deciding.front());
}

}  // namespace morvane
