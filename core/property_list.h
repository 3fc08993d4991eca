#pragma once

#include <plist/plist.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace morvane {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};

/// An owned property-list node tree.
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter>;

/// Parses a property list in the XML or the binary form; null when the bytes are neither.
PlistPtr parsePropertyList(std::string_view bytes);

/// The text value of `key` in a dictionary node; absent when the node is no dictionary or the
/// value is missing or not text.
std::optional<std::string> dictionaryString(plist_t dictionary, const char* key);

/// Serialises a node tree as an XML property list.
std::string toXmlPropertyList(plist_t root);

}  // namespace morvane
