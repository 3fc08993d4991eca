#include "state_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace launchctl {

StateLock::StateLock(const std::filesystem::path& stateDir) {
  const std::filesystem::path path = stateDir / "lock";
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    throw std::system_error(errno, std::generic_category(), path.string());
  }
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int error = errno;
      close(fd_);
      throw std::system_error(error, std::generic_category(), "flock " + path.string());
    }
  }
}

StateLock::~StateLock() {
  close(fd_);
}

}  // namespace launchctl
