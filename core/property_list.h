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

/// How far a binary property list's object graph may reach before it is refused: nesting depth,
/// and objects counted each time they are referenced (the parser copies shared objects).
struct PropertyListLimits {
  size_t depth = 512;
  size_t expandedObjects = 1 << 20;
};

/// Parses a property list in the XML or the binary form; null when the bytes are neither, or
/// when a binary list's object graph is deeper or expands further than `limits` allow.
PlistPtr parsePropertyList(std::string_view bytes, const PropertyListLimits& limits = {});

/// Whether a binary property list's object graph stays within `limits`, walked without
/// recursion; true for bytes that are not a binary property list.
bool binaryPropertyListWithinLimits(std::string_view bytes, const PropertyListLimits& limits);

/// The text value of `key` in a dictionary node; absent when the node is no dictionary or the
/// value is missing or not text.
std::optional<std::string> dictionaryString(plist_t dictionary, const char* key);

/// Serialises a node tree as an XML property list.
std::string toXmlPropertyList(plist_t root);

/// Serialises a node tree as a binary property list.
std::string toBinaryPropertyList(plist_t root);

/// Whether the bytes are a property list in the binary form (by its header).
bool isBinaryPropertyList(std::string_view bytes);

}  // namespace morvane
