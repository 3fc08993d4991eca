#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

/// Where and why an XML parser stops reading a document.
struct XmlErrorPosition {
  int line = 0;
  int column = 0;
  /// The parser's own words, in English: "Opening and ending tag mismatch: string and dict".
  std::string message;
};

/// The first error that makes `bytes` ill-formed XML; absent when they are well-formed, or when
/// libxml2, which tells, is not installed. No external entity or DTD is fetched.
std::optional<XmlErrorPosition> xmlErrorPosition(std::string_view bytes);

}  // namespace morvane
