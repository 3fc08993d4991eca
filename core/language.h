#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"

namespace morvane {

/// The interface language and the process-wide choice of it.
struct Language {
  enum Value : uint8_t { chinese, english };

  /// The language every text is built in now; detected without a preference on first use.
  static Value current();

  /// The language for a stored preference: MORVANE_LANG, then the preference, then the system.
  static Value detect(const std::optional<std::string>& preference);

  /// Makes detect(preference) the current language.
  static void apply(const std::optional<std::string>& preference);

  /// What the system asks for: the bundle's preferred localization when the bundle offers
  /// Chinese, else the user's first preferred language; Chinese when there is none.
  static Value fromSystem(const platform::Bundle& bundle,
                          const std::vector<std::string>& preferredLanguages);
};

namespace detail {
template <class Text>
std::string build(Text&& text) {
  if constexpr (std::invocable<Text>) {
    return std::string(text());
  } else {
    return std::string(std::forward<Text>(text));
  }
}
}  // namespace detail

/// Picks the Chinese text when the current language is Chinese, else the English one.
///
/// Either argument may be a callable that builds its text; only the chosen one is called.
template <class Chinese, class English>
std::string L(Chinese&& chinese, English&& english) {
  if (Language::current() == Language::chinese)
    return detail::build(std::forward<Chinese>(chinese));
  return detail::build(std::forward<English>(english));
}

}  // namespace morvane
