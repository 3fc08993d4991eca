#include "agents.h"
#include "file_io.h"
#include "property_list.h"

namespace morvane::Agents {

std::string label(const std::filesystem::path& plist) {
  if (auto bytes = readFile(plist)) {
    PlistPtr root = parsePropertyList(*bytes);
    if (auto text = dictionaryString(root.get(), "Label"); text && !text->empty())
      return *text;
  }
  return plist.stem().string();
}

}  // namespace morvane::Agents
