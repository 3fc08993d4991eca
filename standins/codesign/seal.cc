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

/// The seal's text: "files" maps each file to its fingerprint, as verifiers of every version
/// read it, "modes" each file and folder to its permission bits, and "attributes" what those two
/// leave out.
std::string toXml(const Inventory& inventory) {
  Plist root(plist_new_dict());
  plist_t files = plist_new_dict();
  for (const auto& [path, print] : inventory.files)
    plist_dict_set_item(files, path.c_str(), plist_new_string(print.c_str()));
  plist_dict_set_item(root.get(), "files", files);
  plist_t modes = plist_new_dict();
  for (const auto& [path, mode] : inventory.modes)
    plist_dict_set_item(modes, path.c_str(), plist_new_uint(mode));
  plist_dict_set_item(root.get(), "modes", modes);
  plist_t attributes = plist_new_dict();
  for (const auto& [path, facts] : inventory.attributes)
    plist_dict_set_item(attributes, path.c_str(), plist_new_string(facts.c_str()));
  plist_dict_set_item(root.get(), "attributes", attributes);
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  std::string text(xml != nullptr ? xml : "", length);
  std::free(xml);
  return text;
}

/// Calls `take` with each key and value of a dictionary; false when `take` refuses one.
template <typename Take>
bool eachItem(plist_t dictionary, Take take) {
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(dictionary, &iterator);
  bool ok = true;
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dictionary, iterator, &key, &value);
    if (key == nullptr)
      break;
    ok = take(std::string(key), value) && ok;
    std::free(key);
  }
  std::free(iterator);
  return ok;
}

/// Reads a dictionary of texts into `into`.
bool readTexts(plist_t dictionary, std::map<std::string, std::string>& into) {
  return eachItem(dictionary, [&](const std::string& path, plist_t value) {
    if (plist_get_node_type(value) != PLIST_STRING)
      return false;
    char* text = nullptr;
    plist_get_string_val(value, &text);
    if (text == nullptr)
      return false;
    into[path] = text;
    std::free(text);
    return true;
  });
}

bool readModes(plist_t modes, Inventory& inventory) {
  return eachItem(modes, [&](const std::string& path, plist_t value) {
    uint64_t mode = 0;
    if (plist_get_node_type(value) != PLIST_UINT)
      return false;
    plist_get_uint_val(value, &mode);
    if (mode > 07777)
      return false;
    inventory.modes[path] = static_cast<uint32_t>(mode);
    return true;
  });
}

/// What a seal records; false when the seal is not a regular file holding a readable property
/// list with both tables.
bool readSeal(const fs::path& seal, Inventory& inventory) {
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(seal, error)))
    return false;
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
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
    return false;
  plist_t files = plist_dict_get_item(root.get(), "files");
  plist_t modes = plist_dict_get_item(root.get(), "modes");
  plist_t attributes = plist_dict_get_item(root.get(), "attributes");
  auto isDictionary = [](plist_t node) {
    return node != nullptr && plist_get_node_type(node) == PLIST_DICT;
  };
  return isDictionary(files) && isDictionary(modes) && isDictionary(attributes) &&
         readTexts(files, inventory.files) && readModes(modes, inventory) &&
         readTexts(attributes, inventory.attributes);
}

/// The first difference between the sealed and the present bundle, or empty.
std::string firstDifference(const Inventory& sealed, const Inventory& present) {
  for (const auto& [path, print] : sealed.files) {
    auto found = present.files.find(path);
    if (found == present.files.end())
      return "file missing: " + path;
    if (found->second != print)
      return "file modified: " + path;
  }
  for (const auto& [path, print] : present.files)
    if (!sealed.files.contains(path))
      return "file added: " + path;
  for (const auto& [path, mode] : sealed.modes) {
    auto found = present.modes.find(path);
    if (found == present.modes.end())
      return "folder missing: " + path;
    if (found->second != mode)
      return "mode changed: " + path;
  }
  for (const auto& [path, mode] : present.modes)
    if (!sealed.modes.contains(path))
      return "folder added: " + path;
  auto factsOf = [](const Inventory& inventory, const std::string& path) {
    auto found = inventory.attributes.find(path);
    return found != inventory.attributes.end() ? found->second : std::string();
  };
  for (const Inventory* side : {&sealed, &present})
    for (const auto& [path, facts] : side->attributes)
      if (factsOf(sealed, path) != factsOf(present, path))
        return "attributes changed: " + path + " (sealed \"" + factsOf(sealed, path) +
               "\", now \"" + factsOf(present, path) + "\")";
  return "";
}

/// Writes the seal, mode 0644 whatever the umask, in one step.
bool writeFile(const fs::path& path, const std::string& bytes) {
  const fs::path temporary = path.string() + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << bytes;
    if (!file.flush())
      return false;
  }
  std::error_code error;
  fs::permissions(temporary, fs::perms(0644), error);
  if (!error)
    fs::rename(temporary, path, error);
  return !error;
}

}  // namespace

std::string sealBundle(const fs::path& bundle) {
  if (std::string problem = bundleProblem(bundle); !problem.empty())
    return bundle.string() + ": " + problem;
  std::string error;
  Inventory inventory = inventoryOf(bundle, error);
  if (!error.empty())
    return bundle.string() + ": " + error;
  // Written twice: the second time with the modes the seal and its folder have once there.
  const fs::path seal = bundle / kSealPath;
  std::error_code made;
  fs::create_directories(seal.parent_path(), made);
  if (!made)
    fs::permissions(seal.parent_path(), fs::perms(0755), made);
  if (made || !writeFile(seal, toXml(inventory)) || !addSealAttributes(bundle, inventory) ||
      !writeFile(seal, toXml(inventory)))
    return seal.string() + ": cannot write the seal";
  return "";
}

std::string verifyBundle(const fs::path& bundle) {
  if (std::string problem = bundleProblem(bundle); !problem.empty())
    return bundle.string() + ": " + problem;
  std::error_code error;
  const fs::path seal = bundle / kSealPath;
  if (!fs::exists(fs::symlink_status(seal, error)))
    return bundle.string() + ": code object is not signed at all";
  Inventory sealed;
  if (!readSeal(seal, sealed))
    return bundle.string() + ": the seal is damaged";
  std::string walkError;
  Inventory present = inventoryOf(bundle, walkError);
  if (!walkError.empty())
    return bundle.string() + ": " + walkError;
  if (std::string difference = firstDifference(sealed, present); !difference.empty())
    return bundle.string() + ": a sealed resource is missing or invalid (" + difference + ")";
  return "";
}

}  // namespace codesign
