#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "file_io.h"
#include "language.h"
#include "updater.h"

namespace morvane::Updater {

Result<UpdateLock> UpdateLock::acquire(const Paths& paths) {
  auto unlockable = [](const std::string& reason) {
    return fail(L("无法锁定更新：", "Couldn't lock the update: ") + reason);
  };
  if (Outcome made = createDirectories(paths.root); !made)
    return unlockable(made.error().text);
  const std::filesystem::path path = updateLockPath(paths);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
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
  return UpdateLock(std::move(fd), path);
}

}  // namespace morvane::Updater
