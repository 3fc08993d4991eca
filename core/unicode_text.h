#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvane {

/// Takes bytes as UTF-8, replacing every invalid sequence with U+FFFD.
std::string repairUtf8(std::string bytes);

/// Splits UTF-8 text at every line break (LF, VT, FF, CR, CR LF, U+0085, U+2028, U+2029) and
/// drops the empty lines.
std::vector<std::string_view> nonEmptyLines(std::string_view text);

/// Removes Unicode space separators, tab, LF, VT, FF, CR and U+0085 from both ends.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

/// Removes Unicode space separators and tab from both ends.
std::string_view trimWhitespace(std::string_view text);

/// The key labels sort by: the full Unicode lower-case mapping, canonically composed.
std::string lowercaseSortKey(std::string_view text);

/// The key text is searched by: compatibility-normalized and case-folded (NFKC_Casefold), so
/// that letter case, width variants and canonically equivalent spellings do not matter.
/// "Straße", "STRASSE" and "ｓｔｒａｓｓｅ" have one key.
std::string searchKey(std::string_view text);

/// The text with its control characters written visibly, for one line of a terminal: tab, line
/// feed and carriage return as \t, \n and \r, other C0 controls and DEL as \xHH, C1 controls and
/// the line and paragraph separators as \uHHHH, bytes that are not UTF-8 as \xHH. Any other
/// text, backslashes included, comes back unchanged.
std::string visibleControlCharacters(std::string_view text);

}  // namespace morvane
