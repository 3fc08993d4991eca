#include "bundle_files.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "link_walk.h"

namespace codesign {
namespace {

struct DigestDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string hex(const unsigned char* bytes, unsigned size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

/// The target of the link at `relative` inside `bundle`, or nullopt when it is no link.
std::optional<std::string> linkInBundle(const std::filesystem::path& bundle,
                                        const std::string& relative) {
  std::error_code error;
  const std::filesystem::path path = bundle / relative;
  if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error)))
    return std::nullopt;
  std::filesystem::path target = std::filesystem::read_symlink(path, error);
  return error ? "/" : target.string();  // an unreadable link is judged as leading anywhere
}

/// Why the seal's folder holds something other than the seal, or empty.
std::string sealFolderProblem(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(folder, error)))
    return "the seal's folder is not a folder";
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    const bool seal = name == fs::path(kSealPath).filename();
    if (!seal || !fs::is_regular_file(entry.symlink_status()))
      return "unexpected " + name + " in the seal's folder";
  }
  return error ? folder.string() + ": " + error.message() : "";
}

/// The file capabilities of the item at `path`, in hexadecimal, or empty when it has none.
std::string capabilityOf(const std::filesystem::path& path) {
  unsigned char value[256];
  const ssize_t size = ::lgetxattr(path.c_str(), "security.capability", value, sizeof value);
  return size > 0 ? hex(value, static_cast<unsigned>(size)) : "";
}

}  // namespace

std::string attributesOf(const std::filesystem::path& path, bool withMode, uid_t bundleUser,
                         gid_t bundleGroup) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0)
    return "";
  std::string facts;
  auto add = [&](const std::string& fact) { facts += (facts.empty() ? "" : " ") + fact; };
  if (withMode) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", info.st_mode & 07777);
    add(std::string("mode ") + mode);
  }
  if (std::string capability = capabilityOf(path); !capability.empty())
    add("capability " + capability);
  if (info.st_uid != bundleUser || info.st_gid != bundleGroup)
    add("owner " + std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid));
  return facts;
}

std::string sha256OfFile(const std::filesystem::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return "";
  std::unique_ptr<EVP_MD_CTX, DigestDeleter> context(EVP_MD_CTX_new());
  EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0) {
      ::close(fd);
      return "";
    }
    if (count == 0)
      break;
    EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(count));
  }
  ::close(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_DigestFinal_ex(context.get(), digest, &size);
  return hex(digest, size);
}

bool addSealAttributes(const std::filesystem::path& bundle, Inventory& inventory) {
  struct stat root {};
  if (::lstat(bundle.c_str(), &root) != 0)
    return false;
  const std::filesystem::path seal(kSealPath);
  for (const std::filesystem::path& item : {std::filesystem::path("."), seal.parent_path(), seal}) {
    std::string facts = attributesOf(bundle / item, true, root.st_uid, root.st_gid);
    if (facts.empty())
      inventory.attributes.erase(item.string());
    else
      inventory.attributes[item.string()] = facts;
  }
  return true;
}

Inventory inventoryOf(const std::filesystem::path& bundle, std::string& error) {
  namespace fs = std::filesystem;
  Inventory inventory;
  const fs::path sealFolder = fs::path(kSealPath).parent_path();
  const standins::LinkLookup linkAt = [&](const std::string& relative) {
    return linkInBundle(bundle, relative);
  };
  struct stat root {};
  if (::lstat(bundle.c_str(), &root) != 0 || !addSealAttributes(bundle, inventory)) {
    error = bundle.string() + ": " + std::strerror(errno);
    return inventory;
  }
  std::error_code walkError;
  fs::recursive_directory_iterator walk(bundle, walkError), end;
  for (; !walkError && walk != end; walk.increment(walkError)) {
    const fs::path relative = walk->path().lexically_relative(bundle);
    if (relative == sealFolder) {
      walk.disable_recursion_pending();
      error = sealFolderProblem(walk->path());
      if (!error.empty())
        return inventory;
      continue;
    }
    struct stat info {};
    if (::lstat(walk->path().c_str(), &info) != 0) {
      error = relative.string() + ": " + std::strerror(errno);
      return inventory;
    }
    if (std::string facts = attributesOf(walk->path(), false, root.st_uid, root.st_gid);
        !facts.empty())
      inventory.attributes[relative.string()] = facts;
    if (S_ISLNK(info.st_mode)) {
      const fs::path target = fs::read_symlink(walk->path(), walkError);
      if (walkError)
        break;
      if (auto escape = standins::linkEscape(relative.string(), target.string(), linkAt)) {
        error = "symbolic " + *escape;
        return inventory;
      }
      inventory.files[relative.string()] = "link:" + target.string();
      continue;
    }
    inventory.modes[relative.string()] = info.st_mode & 07777;
    if (S_ISDIR(info.st_mode))
      continue;
    if (!S_ISREG(info.st_mode)) {
      error = relative.string() + " is not a regular file";
      return inventory;
    }
    std::string digest = sha256OfFile(walk->path());
    if (digest.empty()) {
      error = relative.string() + ": " + std::strerror(errno);
      return inventory;
    }
    inventory.files[relative.string()] = digest;
  }
  if (walkError)
    error = bundle.string() + ": " + walkError.message();
  return inventory;
}

}  // namespace codesign
