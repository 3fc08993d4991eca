#include "property_list.h"

#include <cstdlib>
#include <limits>

namespace morvane {

PlistPtr parsePropertyList(std::string_view bytes, const PropertyListLimits& limits) {
  if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max())
    return nullptr;
  if (!binaryPropertyListWithinLimits(bytes, limits))
    return nullptr;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  return PlistPtr(root);
}

std::optional<std::string> dictionaryString(plist_t dictionary, const char* key) {
  if (dictionary == nullptr || plist_get_node_type(dictionary) != PLIST_DICT)
    return std::nullopt;
  plist_t value = plist_dict_get_item(dictionary, key);
  if (value == nullptr || plist_get_node_type(value) != PLIST_STRING)
    return std::nullopt;
  char* text = nullptr;
  plist_get_string_val(value, &text);
  if (text == nullptr)
    return std::nullopt;
  std::string result(text);
  std::free(text);
  return result;
}

std::string toXmlPropertyList(plist_t root) {
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root, &xml, &length);
  std::string result(xml != nullptr ? xml : "", length);
  std::free(xml);
  return result;
}

std::string toBinaryPropertyList(plist_t root) {
  char* binary = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &binary, &length);
  std::string result(binary != nullptr ? binary : "", binary != nullptr ? length : 0);
  std::free(binary);
  return result;
}

bool isBinaryPropertyList(std::string_view bytes) {
  return bytes.starts_with("bplist00");
}

}  // namespace morvane
