#pragma once

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace launchctl {

/// Whether `text` is valid UTF-8 throughout, by the rule the core's repairUtf8 applies. ICU's
/// decoding macro alone, so the supervisor program, which saves names in the state, needs no ICU
/// library loaded.
inline bool isUtf8(std::string_view text) {
  constexpr size_t kMaxSequence = 4;
  for (size_t offset = 0; offset < text.size();) {
    if (static_cast<unsigned char>(text[offset]) < 0x80) {
      ++offset;
      continue;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + offset);
    const auto length = static_cast<int32_t>(std::min(text.size() - offset, kMaxSequence));
    int32_t i = 0;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      return false;
    }
    offset += static_cast<size_t>(i);
  }
  return true;
}

}  // namespace launchctl
