#include "file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <system_error>

#include "unique_fd.h"

namespace morvane {
namespace {

Failure pathFailure(const std::filesystem::path& path, int error) {
  return Failure{path.string() + ": " + describeErrno(error)};
}

std::string temporaryPrefix(const std::filesystem::path& path) {
  return "." + path.filename().string() + ".tmp-";
}

/// A name for a temporary sibling of `path` that no other writer will pick: the process id keeps
/// processes apart, the counter keeps this process's writes apart.
std::filesystem::path temporarySibling(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  std::string name =
      temporaryPrefix(path) + std::to_string(getpid()) + "-" + std::to_string(counter++);
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

namespace {

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

/// Reads an open file to its end, keeping at most `limit` bytes; `room` is the first read's
/// size. A read that leaves room unfilled has met the end of a regular file.
std::expected<void, int> readToEnd(int fd, size_t limit, size_t room, std::string& bytes) {
  bytes.clear();
  room = std::max(room, bytes.capacity());
  size_t filled = 0;
  for (;;) {
    if (filled == room) {
      if (room > limit)
        return std::unexpected(EFBIG);
      room = std::min(limit + 1, 2 * room);
    }
    ssize_t count = 0;
    bytes.resize_and_overwrite(room, [&](char* data, size_t) {
      count = ::read(fd, data + filled, room - filled);
      return filled + static_cast<size_t>(std::max<ssize_t>(count, 0));
    });
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      return std::unexpected(errno);
    filled += static_cast<size_t>(count);
    if (count == 0 || filled < room)
      break;
  }
  if (filled > limit)
    return std::unexpected(EFBIG);
  return {};
}

/// Checks that an open file is a regular file within the limit; gives its size.
std::expected<size_t, int> regularFileSize(int fd, size_t limit) {
  struct stat status {};
  if (::fstat(fd, &status) != 0)
    return std::unexpected(errno);
  if (!S_ISREG(status.st_mode))
    return std::unexpected(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
  if (status.st_size < 0 || static_cast<unsigned long long>(status.st_size) > limit)
    return std::unexpected(EFBIG);
  return static_cast<size_t>(status.st_size);
}

}  // namespace

std::expected<std::string, int> readRegularFile(const std::filesystem::path& path, size_t limit) {
  UniqueFd fd(::open(path.c_str(), kReadFlags));
  if (!fd)
    return std::unexpected(errno);
  auto size = regularFileSize(fd.get(), limit);
  if (!size)
    return std::unexpected(size.error());
  // One read of the size the file has, plus one byte to see a file that grew meanwhile.
  std::string bytes;
  if (auto read = readToEnd(fd.get(), limit, *size + 1, bytes); !read)
    return std::unexpected(read.error());
  return bytes;
}

std::expected<void, int> readListedRegularFile(int directory, const char* name, std::string& bytes,
                                               size_t limit) {
  UniqueFd fd(::openat(directory, name, kReadFlags));
  if (!fd)
    return std::unexpected(errno);
  // The listing said "regular file"; one read of a size that fits nearly every such file will
  // do. Should the name have been swapped for something else meanwhile, the descriptor is
  // non-blocking and the reading bounded all the same.
  constexpr size_t kFirstRead = 16 << 10;
  auto read = readToEnd(fd.get(), limit, kFirstRead, bytes);
  if (read && bytes.size() >= kFirstRead) {
    // A larger file: look at it properly.
    if (auto size = regularFileSize(fd.get(), limit); !size)
      return std::unexpected(size.error());
  }
  return read;
}

Failure readFailure(const std::filesystem::path& path, int error, size_t limit) {
  if (error == EINVAL)
    return Failure{path.string() + ": not a regular file"};
  if (error == EFBIG)
    return Failure{path.string() + ": larger than " + std::to_string(limit >> 20) + " MiB"};
  return pathFailure(path, error);
}

Result<std::string> readFile(const std::filesystem::path& path, size_t limit) {
  auto bytes = readRegularFile(path, limit);
  if (!bytes)
    return std::unexpected(readFailure(path, bytes.error(), limit));
  return std::move(*bytes);
}

namespace {

/// Removes the files in `directory` that `writerOf` names a writer of (the process id in the
/// name, or 0 for no temporary file) when that writer is no longer running.
template <typename WriterOf>
void removeAbandoned(const std::filesystem::path& directory, WriterOf writerOf) {
  DIR* stream = ::opendir(directory.c_str());
  if (stream == nullptr)
    return;
  while (const dirent* entry = ::readdir(stream)) {
    const pid_t writer = writerOf(std::string_view(entry->d_name));
    if (writer <= 0 || writer == ::getpid() || ::kill(writer, 0) == 0 || errno != ESRCH)
      continue;
    ::unlinkat(::dirfd(stream), entry->d_name, 0);
  }
  ::closedir(stream);
}

/// The writer of a temporary file whose name, after its prefix, is `rest`: a process id, and
/// optionally "-" and more; 0 when `rest` is not of that form.
pid_t temporaryWriter(std::string_view rest) {
  std::string_view digits = rest.substr(0, rest.find('-'));
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos)
    return 0;
  return static_cast<pid_t>(std::stol(std::string(digits)));
}

}  // namespace

void removeAbandonedTemporaries(const std::filesystem::path& directory, std::string_view prefix) {
  removeAbandoned(directory, [prefix](std::string_view name) {
    return name.starts_with(prefix) ? temporaryWriter(name.substr(prefix.size())) : 0;
  });
}

void removeAbandonedTemporaries(const std::filesystem::path& directory) {
  // Temporary siblings are named "." + the target's name + ".tmp-" + the writer's process id.
  static constexpr std::string_view kMark = ".tmp-";
  removeAbandoned(directory, [](std::string_view name) {
    const size_t mark = name.rfind(kMark);
    if (!name.starts_with('.') || mark == std::string_view::npos || mark < 2)
      return pid_t{0};
    return temporaryWriter(name.substr(mark + kMark.size()));
  });
}

namespace {

/// writeFileAtomically() with the mode set whole when given, else 0666 less the umask; without
/// the flush to disk, and without looking for earlier writers' temporary files, unless `flush`.
Outcome replaceAtomically(const std::filesystem::path& path, std::string_view bytes,
                          std::optional<mode_t> mode, bool flush = true) {
  const std::filesystem::path temporary = temporarySibling(path);
  UniqueFd fd(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode ? 0600 : 0666));
  if (!fd)
    return std::unexpected(pathFailure(temporary, errno));
  if (!writeAll(fd.get(), bytes) || (mode && ::fchmod(fd.get(), *mode) != 0) ||
      (flush && ::fsync(fd.get()) != 0)) {
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
  if (flush)
    removeAbandonedTemporaries(path.parent_path(), temporaryPrefix(path));
  return {};
}

}  // namespace

Outcome writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  // 0666 less the umask, as an ordinary file the user creates would have.
  return replaceAtomically(path, bytes, std::nullopt);
}

Outcome writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                            mode_t mode) {
  return replaceAtomically(path, bytes, mode);
}

Outcome writeFileAtomicallyUnflushed(const std::filesystem::path& path, std::string_view bytes) {
  return replaceAtomically(path, bytes, std::nullopt, false);
}

std::expected<void, int> writeNewFileAtomically(const std::filesystem::path& path,
                                                std::string_view bytes, mode_t mode) {
  const std::filesystem::path temporary = temporarySibling(path);
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd)
    return std::unexpected(errno);
  // The mode is set whole, whatever the umask says.
  if (!writeAll(fd.get(), bytes) || ::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(error);
  }
  fd.reset();
  int moved = ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
  if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without the no-replace rename: a hard link gives the same guarantee.
    moved = ::link(temporary.c_str(), path.c_str());
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
  }
  if (moved != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(error);
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
