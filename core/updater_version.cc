#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>

#include "unicode_library.h"
#include "updater.h"

namespace morvane::Updater {
namespace {

/// The length in bytes of the leading run of characters that are numeric in the Unicode sense
/// (decimal digits, but also numerals such as 一 or Ⅻ).
size_t numericPrefixLength(std::string_view piece) {
  constexpr size_t kMaxSequence = 4;
  size_t offset = 0;
  while (offset < piece.size()) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(piece.data() + offset);
    const auto length = static_cast<int32_t>(std::min(piece.size() - offset, kMaxSequence));
    int32_t size = 0;
    UChar32 c = 0;
    U8_NEXT(bytes, size, length, c);
    const bool numeric =
        c >= 0x80 ? unicode::library().u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE
                  : c >= '0' && c <= '9';  // the only numerals in ASCII
    if (!numeric)
      break;
    offset += static_cast<size_t>(size);
  }
  return offset;
}

/// The decimal value of a run of ASCII digits; 0 when it holds anything else or is too large.
int64_t decimalValue(std::string_view run) {
  int64_t value = 0;
  auto [end, error] = std::from_chars(run.data(), run.data() + run.size(), value);
  if (error != std::errc() || end != run.data() + run.size())
    return 0;
  return value;
}

}  // namespace

std::vector<int64_t> components(std::string_view version) {
  std::vector<int64_t> numbers;
  size_t start = 0;
  while (start <= version.size()) {
    size_t end = std::min(version.find('.', start), version.size());
    std::string_view piece = version.substr(start, end - start);
    if (!piece.empty())
      numbers.push_back(decimalValue(piece.substr(0, numericPrefixLength(piece))));
    start = end + 1;
  }
  return numbers;
}

bool isNewer(std::string_view version, std::string_view than) {
  const std::vector<int64_t> mine = components(version);
  const std::vector<int64_t> theirs = components(than);
  for (size_t i = 0; i < std::max(mine.size(), theirs.size()); ++i) {
    const int64_t a = i < mine.size() ? mine[i] : 0;
    const int64_t b = i < theirs.size() ? theirs[i] : 0;
    if (a != b)
      return a > b;
  }
  return false;
}

}  // namespace morvane::Updater
