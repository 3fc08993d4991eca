#include "fd_io.h"

#include <unistd.h>

#include <cerrno>

namespace launchctl {
namespace {

/// Moves `size` bytes with `transfer` (read or write), resuming after interruptions.
template <class Transfer>
bool transferFully(int fd, char* bytes, std::size_t size, Transfer transfer) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = transfer(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool writeFully(int fd, const void* data, std::size_t size) {
  return transferFully(fd, static_cast<char*>(const_cast<void*>(data)), size,
                       [](int f, char* p, std::size_t n) { return ::write(f, p, n); });
}

bool readFully(int fd, void* data, std::size_t size) {
  return transferFully(fd, static_cast<char*>(data), size,
                       [](int f, char* p, std::size_t n) { return ::read(f, p, n); });
}

}  // namespace launchctl
