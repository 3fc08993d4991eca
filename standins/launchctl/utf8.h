#pragma once

#include <string>
#include <string_view>

#include "unicode_text.h"

namespace launchctl {

/// Whether `text` is valid UTF-8 throughout.
inline bool isUtf8(std::string_view text) {
  return morvane::repairUtf8(std::string(text)) == text;
}

}  // namespace launchctl
