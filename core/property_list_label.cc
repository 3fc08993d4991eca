// A strict reader for the plain XML property lists agents are written in. It accepts a narrow
// subset of the format and gives up on everything else, so that whatever it accepts the full
// parser reads the same way: elements without attributes (the root's aside), text without
// entities, and values in their canonical forms.

#include "property_list_label.h"

#include <algorithm>
#include <vector>

namespace morvane {
namespace {

/// Containers nested deeper than this are left to the full parser.
constexpr size_t kMaxDepth = 64;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool allOf(std::string_view text, bool (*accepted)(char)) {
  return std::all_of(text.begin(), text.end(), accepted);
}

/// Control characters (other than the XML spaces) and entity references.
bool hasUnusualBytes(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && !isSpace(c)) || c == '&';
  });
}

/// Digits, at most `most` of them and at least one.
bool isDigits(std::string_view text, size_t most) {
  return !text.empty() && text.size() <= most && allOf(text, isDigit);
}

bool isInteger(std::string_view text) {
  if (text.starts_with('-'))
    text.remove_prefix(1);
  return isDigits(text, 18);
}

bool isReal(std::string_view text) {
  if (text.starts_with('-'))
    text.remove_prefix(1);
  const size_t point = text.find('.');
  if (point == std::string_view::npos)
    return isDigits(text, 15);
  return isDigits(text.substr(0, point), 15) && isDigits(text.substr(point + 1), 15);
}

/// "2001-01-01T00:00:00Z".
bool isDate(std::string_view text) {
  constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != shape.size())
    return false;
  for (size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == 'd' ? !isDigit(text[i]) : text[i] != shape[i])
      return false;
  return true;
}

/// Base64 in groups of four, padded only at its end, with spaces and line breaks anywhere.
bool isBase64(std::string_view text) {
  size_t symbols = 0, padding = 0;
  for (char c : text) {
    if (isSpace(c))
      continue;
    const bool letter =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == '+' || c == '/';
    if (c == '=')
      ++padding;
    else if (!letter || padding > 0)
      return false;
    ++symbols;
  }
  return symbols > 0 && symbols % 4 == 0 && padding <= 2;
}

/// A label the full parser returns byte for byte: visible ASCII only.
bool isPlainLabel(std::string_view text) {
  return !text.empty() && allOf(text, [](char c) { return c > ' ' && c < 0x7f; });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back()))
    text.remove_suffix(1);
  return text;
}

/// An open container: a dictionary expects a key, then its value, in turn.
struct Container {
  bool dictionary;
  bool root;
  bool expectingValue = false;
  bool valueIsLabel = false;
};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  std::optional<std::string_view> label() {
    if (!prolog())
      return std::nullopt;
    do {
      if (!step())
        return std::nullopt;
    } while (!open_.empty());
    skipSpace();
    if (!consume("</plist>"))
      return std::nullopt;
    skipSpace();
    if (!rest_.empty())
      return std::nullopt;
    return label_;
  }

 private:
  void skipSpace() {
    while (!rest_.empty() && isSpace(rest_.front()))
      rest_.remove_prefix(1);
  }

  bool consume(std::string_view token) {
    if (!rest_.starts_with(token))
      return false;
    rest_.remove_prefix(token.size());
    return true;
  }

  /// Skips to just past `end`, provided the text before it holds none of `refused` and its
  /// double quotes pair up (the parser looks for `end` outside quoted text only).
  bool skipPast(std::string_view end, std::string_view refused) {
    const size_t at = rest_.find(end);
    if (at == std::string_view::npos)
      return false;
    const std::string_view skipped = rest_.substr(0, at);
    if (skipped.find_first_of(refused) != std::string_view::npos ||
        std::count(skipped.begin(), skipped.end(), '"') % 2 != 0)
      return false;
    rest_.remove_prefix(at + end.size());
    return true;
  }

  /// The XML declaration, the document type and the opening of the root element.
  bool prolog() {
    skipSpace();
    if (consume("<?xml") && !skipPast("?>", "<>"))
      return false;
    skipSpace();
    if (consume("<!DOCTYPE") && !skipPast(">", "<["))
      return false;
    skipSpace();
    if (!consume("<plist"))
      return false;
    if (consume(">"))
      return true;
    return !rest_.empty() && isSpace(rest_.front()) && skipPast(">", "</");
  }

  /// The tag name after "<", and whether the element is empty ("<true/>").
  bool tag(std::string_view& name, bool& empty) {
    size_t length = 0;
    while (length < rest_.size() && rest_[length] >= 'a' && rest_[length] <= 'z')
      ++length;
    name = rest_.substr(0, length);
    rest_.remove_prefix(length);
    empty = consume("/>");
    return !name.empty() && (empty || consume(">"));
  }

  /// The text of an element up to its closing tag, which must follow it exactly.
  bool text(std::string_view name, std::string_view& content) {
    const size_t end = rest_.find('<');
    if (end == std::string_view::npos)
      return false;
    content = rest_.substr(0, end);
    rest_.remove_prefix(end);
    return consume("</") && consume(name) && consume(">");
  }

  /// Reads the next key, value or closing tag.
  bool step() {
    skipSpace();
    if (consume("</"))
      return close();
    std::string_view name;
    bool empty = false;
    if (!consume("<") || !tag(name, empty))
      return false;
    if (!open_.empty() && open_.back().dictionary && !open_.back().expectingValue)
      return !empty && name == "key" && key();
    return value(name, empty);
  }

  bool close() {
    if (open_.empty())
      return false;
    const Container& innermost = open_.back();
    if (innermost.expectingValue || !consume(innermost.dictionary ? "dict>" : "array>"))
      return false;
    open_.pop_back();
    return true;
  }

  bool key() {
    std::string_view content;
    if (!text("key", content))
      return false;
    Container& dictionary = open_.back();
    dictionary.expectingValue = true;
    if (!dictionary.root || trimmed(content) != "Label")
      return true;
    // One "Label", written exactly so.
    if (content != "Label" || labelKeySeen_)
      return false;
    labelKeySeen_ = true;
    dictionary.valueIsLabel = true;
    return true;
  }

  bool value(std::string_view name, bool empty) {
    bool isLabel = false;
    if (open_.empty()) {
      if (rootSeen_ || name != "dict")
        return false;
      rootSeen_ = true;
    } else if (open_.back().dictionary) {
      isLabel = open_.back().valueIsLabel;
      open_.back().expectingValue = false;
      open_.back().valueIsLabel = false;
    }
    if (name == "string") {
      std::string_view content;
      if (empty)
        return !isLabel;
      if (!text(name, content) || (isLabel && !isPlainLabel(content)))
        return false;
      if (isLabel)
        label_ = content;
      return true;
    }
    if (isLabel)
      return false;
    if (name == "dict" || name == "array") {
      if (!empty && open_.size() < kMaxDepth)
        open_.push_back({name == "dict", open_.empty()});
      return open_.size() < kMaxDepth;
    }
    if (name == "true" || name == "false")
      return empty;
    std::string_view content;
    if (empty || !text(name, content))
      return false;
    if (name == "integer")
      return isInteger(content);
    if (name == "real")
      return isReal(content);
    if (name == "date")
      return isDate(content);
    if (name == "data")
      return isBase64(content);
    return false;
  }

  std::string_view rest_;
  std::vector<Container> open_;
  bool rootSeen_ = false;
  bool labelKeySeen_ = false;
  std::optional<std::string_view> label_;
};

}  // namespace

std::optional<std::string_view> plainPropertyListLabel(std::string_view bytes) {
  if (hasUnusualBytes(bytes))
    return std::nullopt;
  return Reader(bytes).label();
}

}  // namespace morvane
