#include "remove_tree.h"

#include <sys/stat.h>

namespace morvane {
namespace {

namespace fs = std::filesystem;

/// Gives the owner full access to `folder` and every folder under it, as far as the owner may.
void openUp(const fs::path& folder) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    return;
  if ((info.st_mode & S_IRWXU) != S_IRWXU)
    ::chmod(folder.c_str(), (info.st_mode & 07777) | S_IRWXU);
  std::error_code unreadable;
  for (const auto& entry : fs::directory_iterator(folder, unreadable))
    openUp(entry.path());
}

bool gone(const fs::path& path) {
  std::error_code error;
  return !fs::exists(fs::symlink_status(path, error));
}

}  // namespace

bool removeTree(const fs::path& path) {
  std::error_code error;
  fs::remove_all(path, error);
  if (gone(path))
    return true;
  openUp(path);
  fs::remove_all(path, error);
  return gone(path);
}

}  // namespace morvane
