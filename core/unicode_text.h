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

}  // namespace morvane
