#include "agents.h"
#include "file_io.h"
#include "property_list.h"
#include "property_list_label.h"

namespace morvane::Agents {
namespace {

/// The non-empty "Label" text that property-list bytes declare.
std::optional<std::string> declaredLabel(std::string_view bytes) {
  if (auto plain = plainPropertyListLabel(bytes))
    return std::string(*plain);  // the usual case, without building the whole tree
  PlistPtr root = parsePropertyList(bytes);
  if (auto text = dictionaryString(root.get(), "Label"); text && !text->empty())
    return text;
  return std::nullopt;
}

/// "com.example.job.plist" → "com.example.job".
std::string withoutExtension(const std::string& name) {
  return std::filesystem::path(name).stem().string();
}

}  // namespace

std::string label(const std::filesystem::path& plist) {
  if (auto bytes = readFile(plist))
    if (auto declared = declaredLabel(*bytes))
      return *declared;
  return plist.stem().string();
}

std::string labelOfListed(int directory, const Agent& listed, bool listedAsRegular) {
  if (!listedAsRegular)
    return label(listed.path);  // a link, or a file system that does not say: checked by readFile
  thread_local std::string bytes;  // one buffer for all the files a thread reads
  if (readListedRegularFile(directory, listed.file.c_str(), bytes))
    if (auto declared = declaredLabel(bytes))
      return *declared;
  return withoutExtension(listed.file);
}

}  // namespace morvane::Agents
