#include "utf8_repair.h"

#include <string_view>

#include "utf8_decoding.h"

namespace morvane {
namespace {

/// The UTF-8 form of U+FFFD.
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

std::string repairUtf8(std::string bytes) {
  using utf8::asciiPrefix;
  using utf8::nextCodePoint;
  std::string_view text = bytes;
  size_t valid = asciiPrefix(text.data(), text.size());
  for (size_t offset = valid; offset < text.size();) {
    valid = offset;
    if (nextCodePoint(text, offset) < 0)
      break;
    offset += asciiPrefix(text.data() + offset, text.size() - offset);
    valid = offset;
  }
  if (valid == text.size())
    return bytes;

  std::string repaired(text.substr(0, valid));
  repaired.reserve(text.size() + 16);
  for (size_t offset = valid; offset < text.size();) {
    size_t start = offset;
    if (nextCodePoint(text, offset) < 0) {
      repaired += kReplacement;
    } else {
      repaired.append(text.substr(start, offset - start));
    }
  }
  return repaired;
}

}  // namespace morvane
