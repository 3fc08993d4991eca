#include "terminal_width.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace morvane {

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
    const auto category = static_cast<UCharCategory>(u_charType(c));
    if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK)
      continue;
    const auto width = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
    columns += (width == U_EA_WIDE || width == U_EA_FULLWIDTH) ? 2 : 1;
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
