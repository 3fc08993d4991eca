#include "seal.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "bundle_files.h"

namespace codesign {
namespace {

namespace fs = std::filesystem;

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter>;

/// A bundle is a directory with a Contents folder.
std::string bundleProblem(const fs::path& bundle) {
  std::error_code error;
  if (!fs::exists(bundle, error))
    return "No such file or directory";
  if (!fs::is_directory(bundle / "Contents", error))
    return "bundle format unrecognized, invalid, or unsuitable";
  return "";
}

std::string toXml(const Fingerprints& prints) {
  Plist root(plist_new_dict());
  plist_t files = plist_new_dict();
  for (const auto& [path, print] : prints)
    plist_dict_set_item(files, path.c_str(), plist_new_string(print.c_str()));
  plist_dict_set_item(root.get(), "files", files);
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  std::string text(xml != nullptr ? xml : "", length);
  std::free(xml);
  return text;
}

/// The fingerprints a seal records; false when the seal is not a readable property list.
bool readSeal(const fs::path& seal, Fingerprints& prints) {
  std::ifstream file(seal, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  const std::string text = bytes.str();
  if (!file.good() && !file.eof())
    return false;
  plist_t parsed = nullptr;
  if (!text.empty())
    plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &parsed);
  Plist root(parsed);
  plist_t files = root ? plist_dict_get_item(root.get(), "files") : nullptr;
  if (files == nullptr || plist_get_node_type(files) != PLIST_DICT)
    return false;
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(files, &iterator);
  bool ok = true;
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(files, iterator, &key, &value);
    if (key == nullptr)
      break;
    char* print = nullptr;
    if (plist_get_node_type(value) == PLIST_STRING)
      plist_get_string_val(value, &print);
    ok = ok && print != nullptr;
    if (print != nullptr)
      prints[key] = print;
    std::free(print);
    std::free(key);
  }
  std::free(iterator);
  return ok;
}

/// The first difference between the sealed and the present files, or empty.
std::string firstDifference(const Fingerprints& sealed, const Fingerprints& present) {
  for (const auto& [path, print] : sealed) {
    auto found = present.find(path);
    if (found == present.end())
      return "file missing: " + path;
    if (found->second != print)
      return "file modified: " + path;
  }
  for (const auto& [path, print] : present)
    if (!sealed.contains(path))
      return "file added: " + path;
  return "";
}

bool writeFile(const fs::path& path, const std::string& bytes) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << bytes;
    if (!file.flush())
      return false;
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  return !error;
}

}  // namespace

std::string sealBundle(const fs::path& bundle) {
  if (std::string problem = bundleProblem(bundle); !problem.empty())
    return bundle.string() + ": " + problem;
  std::string error;
  Fingerprints prints = fingerprintBundle(bundle, error);
  if (!error.empty())
    return bundle.string() + ": " + error;
  const fs::path seal = bundle / kSealPath;
  std::error_code made;
  fs::create_directories(seal.parent_path(), made);
  if (made || !writeFile(seal, toXml(prints)))
    return seal.string() + ": cannot write the seal";
  return "";
}

std::string verifyBundle(const fs::path& bundle) {
  if (std::string problem = bundleProblem(bundle); !problem.empty())
    return bundle.string() + ": " + problem;
  std::error_code error;
  const fs::path seal = bundle / kSealPath;
  if (!fs::exists(seal, error))
    return bundle.string() + ": code object is not signed at all";
  Fingerprints sealed;
  if (!readSeal(seal, sealed))
    return bundle.string() + ": the seal is damaged";
  std::string walkError;
  Fingerprints present = fingerprintBundle(bundle, walkError);
  if (!walkError.empty())
    return bundle.string() + ": " + walkError;
  if (std::string difference = firstDifference(sealed, present); !difference.empty())
    return bundle.string() + ": a sealed resource is missing or invalid (" + difference + ")";
  return "";
}

}  // namespace codesign
