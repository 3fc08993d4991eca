// Reading latest.json. The manifest comes from the network, so it is read with a SAX pass that
// keeps only its top-level strings and gives up on documents nested absurdly deep, instead
// of building a tree of whatever the server sent.

#include <algorithm>
#include <charconv>
#include <map>
#include <nlohmann/json.hpp>

#include "updater.h"

namespace morvane::Updater {
namespace {

constexpr size_t kDeepestNesting = 64;

/// Collects the top-level string members of a JSON object; anything else at the top level
/// makes the document unrecognised.
class TopLevelStrings : public nlohmann::json_sax<nlohmann::json> {
 public:
  /// Member name → its text, or nullopt for a member whose value is not a string.
  std::map<std::string, std::optional<std::string>> members;
  bool isObject = false;

  /// The text of a string member; empty when it is missing or not a string.
  std::string text(const std::string& name) const {
    auto member = members.find(name);
    return member != members.end() && member->second ? *member->second : std::string();
  }

  bool null() override { return scalar(std::nullopt); }
  bool boolean(bool) override { return scalar(std::nullopt); }
  bool number_integer(number_integer_t) override { return scalar(std::nullopt); }
  bool number_unsigned(number_unsigned_t) override { return scalar(std::nullopt); }
  bool number_float(number_float_t, const string_t&) override { return scalar(std::nullopt); }
  bool string(string_t& text) override { return scalar(text); }
  bool binary(binary_t&) override { return scalar(std::nullopt); }
  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t& name) override {
    if (depth_ == 1)
      key_ = name;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  bool scalar(std::optional<std::string> value) {
    if (depth_ == 0)
      return false;  // a bare value at the top level
    if (depth_ == 1)
      members[key_] = std::move(value);
    return true;
  }

  bool open(bool object) {
    if (depth_ == 0) {
      if (!object)
        return false;
      isObject = true;
    } else if (depth_ == 1) {
      members[key_] = std::nullopt;
    }
    return ++depth_ <= kDeepestNesting;
  }

  bool close() {
    --depth_;
    return true;
  }

  size_t depth_ = 0;
  std::string key_;
};

bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isHexDigit(char c) {
  return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/// Groups of ASCII digits joined by single dots, at least two of them, each small enough to be
/// compared as a number.
bool isReleaseVersion(std::string_view text) {
  size_t groups = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = std::min(text.find('.', start), text.size());
    std::string_view group = text.substr(start, end - start);
    if (group.empty() || !std::all_of(group.begin(), group.end(), isAsciiDigit))
      return false;
    int64_t value = 0;
    if (std::from_chars(group.data(), group.data() + group.size(), value).ec != std::errc())
      return false;
    ++groups;
    start = end + 1;
  }
  return groups >= 2;
}

bool isDigest(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), isHexDigit);
}

std::string lowerCased(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

std::optional<Release> release(std::string_view fromManifest) {
  TopLevelStrings document;
  if (!nlohmann::json::sax_parse(fromManifest, &document) || !document.isObject)
    return std::nullopt;
  auto version = document.members.find("version");
  auto digest = document.members.find("sha256");
  if (version == document.members.end() || !version->second || digest == document.members.end() ||
      !digest->second)
    return std::nullopt;
  if (!isReleaseVersion(*version->second) || !isDigest(*digest->second))
    return std::nullopt;
  Release named{*version->second, lowerCased(*digest->second)};
  // Optional: a manifest without them is recognised, and its package refused unsigned.
  named.signature = document.text("signature");
  named.keyId = document.text("keyId");
  return named;
}

}  // namespace morvane::Updater
