#pragma once

#include <string_view>

namespace morvane {

/// The application's bundle identifier; the build stamps the same value into the bundle.
inline constexpr std::string_view kAppIdentifier = MORVANE_APP_IDENTIFIER;

}  // namespace morvane
