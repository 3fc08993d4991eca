#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvane {

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

/// Whether `c` is one of the bidirectional formatting characters, which reorder the text around
/// them without being seen: the marks (U+061C, U+200E, U+200F), embeddings and overrides (U+202A
/// to U+202E) and isolates (U+2066 to U+2069).
bool isBidiControl(char32_t c);

/// Whether UTF-8 `text` holds a bidirectional formatting character.
bool containsBidiControl(std::string_view text);

/// Which of the characters that shape a text a terminal gets to see as they are.
enum class Layout {
  /// None: the text stays on one line.
  oneLine,
  /// Tabs and line feeds, for text of several lines such as a log or a tool's message.
  lines,
};

/// The one form in which text from agents, their files and the tools that run them reaches a
/// terminal: nothing in it can move the cursor, set a title, reorder what follows or split a
/// line. Tab, line feed and carriage return are written \t, \n and \r (unless `layout` keeps
/// tabs and line feeds), other C0 controls and DEL \xHH, C1 controls, the line and paragraph
/// separators and the bidirectional formatting characters (isBidiControl) \uHHHH, bytes that are
/// not UTF-8 \xHH. Any other text, backslashes included, comes
/// back unchanged.
std::string visibleControlCharacters(std::string_view text, Layout layout = Layout::oneLine);

}  // namespace morvane
