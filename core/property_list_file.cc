#include "property_list_file.h"

#include "file_io.h"
#include "language.h"

namespace morvane {

Result<PropertyListFile> readPropertyListDictionary(const std::filesystem::path& file,
                                                    const std::filesystem::path& shownAs) {
  Result<std::string> bytes = readFile(file);
  if (!bytes)
    return std::unexpected(bytes.error());
  PlistPtr root = parsePropertyList(*bytes);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    const std::string path = (shownAs.empty() ? file : shownAs).string();
    return fail(
        L([&] { return path + "：不是属性列表"; }, [&] { return path + ": not a property list"; }));
  }
  return PropertyListFile{std::move(root), isBinaryPropertyList(*bytes)};
}

}  // namespace morvane
