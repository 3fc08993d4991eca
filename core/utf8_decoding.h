#pragma once

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

// Decoding UTF-8 with ICU's macros alone, which need no ICU library loaded.
namespace morvane::utf8 {

/// The length of the leading run of ASCII bytes, found eight bytes at a time.
inline size_t asciiPrefix(const char* data, size_t size) {
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t block;
    std::memcpy(&block, data + i, 8);
    if (block & 0x8080808080808080ull)
      break;
  }
  while (i < size && static_cast<unsigned char>(data[i]) < 0x80)
    ++i;
  return i;
}

/// The longest UTF-8 sequence; decoding looks at no more than this, so offsets stay small.
constexpr size_t kMaxSequence = 4;

/// Decodes the code point at `offset`, or -1 where the bytes are no valid UTF-8; moves on past it.
inline UChar32 nextCodePoint(std::string_view text, size_t& offset) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + offset);
  const auto length = static_cast<int32_t>(std::min(text.size() - offset, kMaxSequence));
  int32_t i = 0;
  UChar32 c;
  U8_NEXT(bytes, i, length, c);
  offset += static_cast<size_t>(i);
  return c;
}

}  // namespace morvane::utf8
