#include "unicode_text.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "unicode_library.h"
#include "utf8_decoding.h"

namespace morvane {
namespace {

using utf8::asciiPrefix;
using utf8::kMaxSequence;
using utf8::nextCodePoint;

/// Decodes the code point that ends at `end`, or -1 where the bytes before it are no valid
/// UTF-8; moves `end` back to its start (by one byte for invalid ones).
UChar32 previousCodePoint(std::string_view text, size_t& end) {
  // Back over continuation bytes to where the last sequence can start, then decode forwards.
  size_t start = end - 1;
  while (start > 0 && end - start < kMaxSequence &&
         (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80)
    --start;
  size_t next = start;
  const UChar32 c = nextCodePoint(text.substr(0, end), next);
  if (c < 0 || next != end) {
    end -= 1;
    return -1;
  }
  end = start;
  return c;
}

bool isSpaceOrTab(UChar32 c) {
  // The one space separator in ASCII is the space itself.
  return c == '\t' || c == ' ' ||
         (c >= 0x80 && unicode::library().u_charType(c) == U_SPACE_SEPARATOR);
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

/// `text` converted by ICU's `convert` (u_strFromUTF8WithSub or u_strToUTF8WithSub) into at
/// most `capacity` units of `Out`, with U+FFFD for what cannot be converted; absent should ICU
/// fail.
template <class Out, class In, class Convert>
std::optional<Out> converted(const In& text, size_t capacity, Convert convert) {
  Out out(capacity, {});
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  convert(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
          static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status))
    return std::nullopt;
  out.resize(static_cast<size_t>(length));
  return out;
}

/// `text` in UTF-16: never more code units than bytes, as a replaced byte is one unit too.
std::optional<std::u16string> toUtf16(std::string_view text) {
  return converted<std::u16string>(text, text.size(), unicode::library().u_strFromUTF8WithSub);
}

/// `text` in UTF-8: at most three bytes a code unit.
std::optional<std::string> toUtf8(const std::u16string& text) {
  return converted<std::string>(text, 3 * text.size(), unicode::library().u_strToUTF8WithSub);
}

/// What `transform(destination, capacity, status)` writes from `source`, given room for all of
/// it; `source` itself when ICU fails.
template <class Transform>
std::u16string transformed(const std::u16string& source, Transform transform) {
  std::u16string out(source.size() + 8, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = transform(out.data(), static_cast<int32_t>(out.size()), status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(static_cast<size_t>(length));
    status = U_ZERO_ERROR;
    length = transform(out.data(), length, status);
  }
  if (U_FAILURE(status))
    return source;
  out.resize(static_cast<size_t>(length));
  return out;
}

/// `text` in the normal form `form`; `text` itself when the form is not available.
std::u16string normalized(const std::u16string& text, const UNormalizer2* form, UErrorCode status) {
  if (U_FAILURE(status))
    return text;
  return transformed(text, [&](char16_t* out, int32_t capacity, UErrorCode& error) {
    return unicode::library().unorm2_normalize(form, text.data(), static_cast<int32_t>(text.size()),
                                               out, capacity, &error);
  });
}

}  // namespace

std::string searchKey(std::string_view text) {
  if (std::optional<std::string> key = asciiKey(text))
    return std::move(*key);
  const std::optional<std::u16string> source = toUtf16(text);
  if (!source)
    return std::string(text);  // compared as it stands, as any text ICU cannot fold
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* fold = unicode::library().unorm2_getNFKCCasefoldInstance(&status);
  return toUtf8(normalized(*source, fold, status)).value_or(std::string(text));
}

std::string lowercaseSortKey(std::string_view text) {
  if (std::optional<std::string> key = asciiKey(text))
    return std::move(*key);
  const std::optional<std::u16string> source = toUtf16(text);
  if (!source)
    return std::string(text);
  // Lower case by the root locale ("" to ICU), then composed.
  const std::u16string lower =
      transformed(*source, [&](char16_t* out, int32_t capacity, UErrorCode& error) {
        return unicode::library().u_strToLower(out, capacity, source->data(),
                                               static_cast<int32_t>(source->size()), "", &error);
      });
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfc = unicode::library().unorm2_getNFCInstance(&status);
  return toUtf8(normalized(lower, nfc, status)).value_or(std::string(text));
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
