#include "instance_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "language.h"

namespace morvane {
namespace {

/// The process id written in `file`, when a whole one is there.
std::optional<pid_t> writtenHolder(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0)
    return std::nullopt;
  char text[32];
  const ssize_t size = ::pread(fd, text, sizeof text, 0);
  ::close(fd);
  pid_t pid = 0;
  if (size <= 0)
    return std::nullopt;
  auto [end, error] = std::from_chars(text, text + size, pid);
  if (error != std::errc() || pid <= 0 || end == text + size || *end != '\n')
    return std::nullopt;
  // An id left by a holder that has gone: the new one has not written its own yet.
  if (::kill(pid, 0) != 0 && errno == ESRCH)
    return std::nullopt;
  return pid;
}

}  // namespace

Result<std::optional<InstanceLock>> InstanceLock::acquire(const std::filesystem::path& file) {
  // Closed on exec: the programs this process starts must not keep the lock after it is gone.
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    const std::string reason = std::strerror(errno);
    return fail(L([&] { return "无法打开 " + file.string() + "：" + reason; },
                  [&] { return "Cannot open " + file.string() + ": " + reason; }));
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR)
      continue;
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK)
      return std::optional<InstanceLock>();
    const std::string reason = std::strerror(error);
    return fail(L([&] { return "无法锁定 " + file.string() + "：" + reason; },
                  [&] { return "Cannot lock " + file.string() + ": " + reason; }));
  }
  InstanceLock lock(fd);
  const std::string pid = std::to_string(::getpid()) + "\n";
  // Only a help for the message of a second copy: the lock itself is what counts.
  if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
    ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
  return std::optional<InstanceLock>(std::move(lock));
}

std::optional<pid_t> InstanceLock::holder(const std::filesystem::path& file) {
  // A holder that has just taken the lock writes its id a moment later.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (std::optional<pid_t> pid = writtenHolder(file))
      return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

InstanceLock::~InstanceLock() {
  if (fd_ < 0)
    return;
  // Still the holder: no later copy can be shown this process's id once it is gone.
  [[maybe_unused]] const int emptied = ::ftruncate(fd_, 0);
  ::close(fd_);
}

}  // namespace morvane
