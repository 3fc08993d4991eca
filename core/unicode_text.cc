#include "unicode_text.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "utf8_decoding.h"

namespace morvane {
namespace {

using utf8::asciiPrefix;
using utf8::kMaxSequence;
using utf8::nextCodePoint;

/// Decodes the code point that ends at `end`, or -1; moves `end` back to its start.
UChar32 previousCodePoint(std::string_view text, size_t& end) {
  const size_t base = end - std::min(end, kMaxSequence);
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + base);
  auto i = static_cast<int32_t>(end - base);
  UChar32 c;
  U8_PREV(bytes, 0, i, c);
  end = base + static_cast<size_t>(i);
  return c;
}

bool isSpaceOrTab(UChar32 c) {
  return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

bool isSpaceOrNewline(UChar32 c) {
  return isSpaceOrTab(c) || (c >= 0x0A && c <= 0x0D) || c == 0x85;
}

bool isLineBreak(UChar32 c) {
  return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

template <class Predicate>
std::string_view trimIf(std::string_view text, Predicate trimmed) {
  size_t start = 0;
  while (start < text.size()) {
    size_t next = start;
    if (!trimmed(nextCodePoint(text, next)))
      break;
    start = next;
  }
  size_t end = text.size();
  while (end > start) {
    size_t previous = end;
    if (!trimmed(previousCodePoint(text, previous)))
      break;
    end = previous;
  }
  return text.substr(start, end - start);
}

}  // namespace

std::vector<std::string_view> nonEmptyLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t lineStart = 0;
  for (size_t offset = 0; offset < text.size();) {
    size_t breakStart = offset;
    UChar32 c = nextCodePoint(text, offset);
    if (!isLineBreak(c))
      continue;
    if (breakStart > lineStart)
      lines.push_back(text.substr(lineStart, breakStart - lineStart));
    if (c == '\r' && offset < text.size() && text[offset] == '\n')
      ++offset;
    lineStart = offset;
  }
  if (lineStart < text.size())
    lines.push_back(text.substr(lineStart));
  return lines;
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
  return trimIf(text, isSpaceOrNewline);
}

std::string_view trimWhitespace(std::string_view text) {
  return trimIf(text, isSpaceOrTab);
}

namespace {

/// ASCII text with its capital letters made small; the text of both keys for ASCII, which
/// neither case mapping, folding nor normalization changes otherwise.
std::optional<std::string> asciiKey(std::string_view text) {
  if (asciiPrefix(text.data(), text.size()) != text.size())
    return std::nullopt;
  std::string key(text);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return key;
}

}  // namespace

std::string searchKey(std::string_view text) {
  if (std::optional<std::string> key = asciiKey(text))
    return std::move(*key);
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* fold = icu::Normalizer2::getNFKCCasefoldInstance(status);
  const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  icu::UnicodeString folded = U_SUCCESS(status) ? fold->normalize(source, status) : source;
  std::string key;
  (U_SUCCESS(status) ? folded : source).toUTF8String(key);
  return key;
}

std::string lowercaseSortKey(std::string_view text) {
  if (std::optional<std::string> key = asciiKey(text))
    return std::move(*key);
  icu::UnicodeString lower =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
          .toLower(icu::Locale::getRoot());
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  icu::UnicodeString composed = U_SUCCESS(status) ? nfc->normalize(lower, status) : lower;
  std::string key;
  (U_SUCCESS(status) ? composed : lower).toUTF8String(key);
  return key;
}

namespace {

void appendHex(std::string& out, const char* prefix, uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out += kDigits[(value >> shift) & 0xF];
}

}  // namespace

bool isBidiControl(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

bool containsBidiControl(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c >= 0 && isBidiControl(static_cast<char32_t>(c)))
      return true;
  }
  return false;
}

std::string visibleControlCharacters(std::string_view text, Layout layout) {
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  const bool keepLayout = layout == Layout::lines;
  for (int32_t i = 0; i < length;) {
    // Printable ASCII, the bulk of any label, is copied a run at a time.
    int32_t plain = i;
    while (plain < length && bytes[plain] >= 0x20 && bytes[plain] < 0x7F)
      ++plain;
    out.append(text.substr(static_cast<size_t>(i), static_cast<size_t>(plain - i)));
    if ((i = plain) == length)
      break;
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      for (int32_t at = start; at < i; ++at)
        appendHex(out, "\\x", bytes[at], 2);
    } else if (keepLayout && (c == '\t' || c == '\n')) {
      out += static_cast<char>(c);
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      appendHex(out, "\\x", static_cast<uint32_t>(c), 2);
    } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || isBidiControl(c)) {
      appendHex(out, "\\u", static_cast<uint32_t>(c), 4);
    } else {
      out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
  }
  return out;
}

}  // namespace morvane
