#include "file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "unique_fd.h"

namespace morvane {
namespace {

Failure pathFailure(const std::filesystem::path& path, int error) {
  return Failure{path.string() + ": " + describeErrno(error)};
}

/// A name for a temporary sibling of `path` that no other writer will pick: the process id keeps
/// processes apart, the counter keeps this process's writes apart.
std::filesystem::path temporarySibling(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  std::string name = "." + path.filename().string() + ".tmp-" + std::to_string(getpid()) + "-" +
                     std::to_string(counter++);
  return path.parent_path() / name;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR)
      continue;
    if (written < 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

std::string describeErrno(int error) {
  return std::generic_category().message(error);
}

Result<std::string> readFile(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd)
    return std::unexpected(pathFailure(path, errno));
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      return std::unexpected(pathFailure(path, errno));
    if (count == 0)
      return bytes;
    bytes.append(buffer, static_cast<size_t>(count));
  }
}

Outcome writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  const std::filesystem::path temporary = temporarySibling(path);
  // 0666 less the umask, as an ordinary file the user creates would have.
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd)
    return std::unexpected(pathFailure(temporary, errno));
  if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(pathFailure(path, error));
  }
  fd.reset();
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(pathFailure(path, error));
  }
  return {};
}

Outcome createDirectories(const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error)
    return fail(directory.string() + ": " + error.message());
  return {};
}

}  // namespace morvane
