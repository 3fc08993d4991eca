#include "terminal_width.h"

#include <unicode/utf8.h>

#include "unicode_library.h"

namespace morvane {
namespace {

/// The columns one code point takes: none for a combining mark, two for a wide one.
size_t columnsOf(UChar32 c) {
  if (c < 0x80)
    return 1;  // no ASCII character is a mark or wide
  const unicode::Library& icu = unicode::library();
  const auto category = static_cast<UCharCategory>(icu.u_charType(c));
  if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK)
    return 0;
  const auto width = icu.u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
  return (width == U_EA_WIDE || width == U_EA_FULLWIDTH) ? 2 : 1;
}

}  // namespace

size_t terminalWidth(std::string_view text) {
  size_t columns = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t at = 0; at < length;) {
    UChar32 c = 0;
    U8_NEXT(bytes, at, length, c);
    if (c < 0) {
      ++columns;  // an invalid byte shows as one replacement character
      continue;
    }
    columns += columnsOf(c);
  }
  return columns;
}

std::string padToWidth(std::string text, size_t columns) {
  const size_t width = terminalWidth(text);
  if (width < columns)
    text.append(columns - width, ' ');
  return text;
}

}  // namespace morvane
