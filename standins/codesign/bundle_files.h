#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace codesign {

/// Where the seal lives inside a bundle; its folder holds the seal and nothing else.
inline constexpr const char* kSealPath = "Contents/_CodeSignature/CodeResources";

/// What the seal records of a bundle, by path relative to the bundle.
struct Inventory {
  /// Every file and link: the SHA-256 of a regular file's bytes, or "link:" and a link's target.
  std::map<std::string, std::string> files;
  /// The permission bits, set-id and sticky bits included, of every file and folder; a folder
  /// is a path here that `files` does not hold, so empty folders are sealed too.
  std::map<std::string, uint32_t> modes;
  /// What `modes` leaves out, by path, each a text of facts ("mode 755", "capability <hex>",
  /// "owner <uid>:<gid>"): the modes of the bundle itself (".") and of the seal and its folder,
  /// the file capabilities of whatever has them, and the owner of whatever is not owned as the
  /// bundle is. Kept apart so that verifiers of seals without it still read the rest.
  std::map<std::string, std::string> attributes;
};

/// Records in `inventory.attributes` the bundle's own mode and those of the seal and its folder
/// as they are now (with their other facts); false when the bundle cannot be read.
bool addSealAttributes(const std::filesystem::path& bundle, Inventory& inventory);

/// The facts `attributes` records of the item at `path`, judged against the bundle's owner; with
/// `withMode`, its permission bits too. Empty when there is nothing to record.
std::string attributesOf(const std::filesystem::path& path, bool withMode, uid_t bundleUser,
                         gid_t bundleGroup);

/// Everything under `bundle`, the seal's own folder left out. Sets `error` (and returns what was
/// read so far) on an unreadable file, a special file, a link that leads out of the bundle
/// (followed step by step, through other links), or anything in the seal's folder but the seal.
Inventory inventoryOf(const std::filesystem::path& bundle, std::string& error);

/// The SHA-256 of a file's bytes as 64 lower-case hexadecimal digits; empty when unreadable.
std::string sha256OfFile(const std::filesystem::path& file);

}  // namespace codesign
