#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "file_io.h"
#include "language.h"
#include "updater.h"

namespace morvane::Updater {
namespace {

std::unexpected<Failure> unlockable(const std::string& reason) {
  return fail(L("无法锁定更新：", "Couldn't lock the update: ") + reason);
}

/// Opens (creating it with `mode`) and locks the file at `path` without waiting.
Result<UniqueFd> lockFile(const std::filesystem::path& path, int access, mode_t mode) {
  UniqueFd fd(::open(path.c_str(), access | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode));
  if (!fd)
    return unlockable(path.string() + ": " + describeErrno(errno));
  int locked = 0;
  do {
    locked = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0 && errno == EWOULDBLOCK)
    return fail(L("另一个更新正在进行，请等它结束后再试。",
                  "Another update is in progress. Try again once it has finished."));
  if (locked != 0)
    return unlockable(path.string() + ": " + describeErrno(errno));
  return fd;
}

}  // namespace

Result<UpdateLock> UpdateLock::acquire(const Paths& paths, const std::filesystem::path& appPath) {
  // Read access is enough for flock, so the users who share a bundle can all take its lock.
  Result<UniqueFd> bundle = lockFile(bundleLockPath(appPath), O_RDONLY, 0644);
  if (!bundle)
    return std::unexpected(bundle.error());
  if (Outcome made = createDirectories(paths.root); !made)
    return unlockable(made.error().text);
  const std::filesystem::path path = updateLockPath(paths);
  Result<UniqueFd> data = lockFile(path, O_RDWR, 0600);
  if (!data)
    return std::unexpected(data.error());
  return UpdateLock(std::move(*bundle), std::move(*data), path);
}

}  // namespace morvane::Updater
