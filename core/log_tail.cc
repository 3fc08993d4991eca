#include "log_tail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>

#include "file_io.h"
#include "language.h"
#include "unique_fd.h"
#include "utf8_repair.h"

namespace morvane {
namespace {

constexpr size_t kBlockSize = 64 * 1024;

Failure openFailure(int error) {
  if (error == ENOENT)
    return Failure{L("文件不存在", "no such file")};
  return Failure{L([&] { return "无法读取：" + describeErrno(error); },
                   [&] { return "cannot be read: " + describeErrno(error); })};
}

/// Reads exactly `length` bytes at `offset` unless the file ends first; the bytes read, or the
/// errno of a failed read.
Result<std::string> readAt(int fd, off_t offset, size_t length) {
  std::string bytes(length, '\0');
  size_t done = 0;
  while (done < length) {
    ssize_t count =
        ::pread(fd, bytes.data() + done, length - done, offset + static_cast<off_t>(done));
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      return std::unexpected(openFailure(errno));
    if (count == 0)
      break;
    done += static_cast<size_t>(count);
  }
  bytes.resize(done);
  return bytes;
}

/// The end of a file that holds at least `breaksWanted` line feeds, or the whole file, or
/// `budget` bytes, whichever is shortest; `reachedStart` tells whether it is the whole file.
struct Window {
  std::string bytes;
  bool reachedStart = false;
};

Result<Window> readWindow(int fd, off_t size, size_t breaksWanted, size_t budget) {
  std::vector<std::string> blocks;  // newest first
  size_t held = 0, breaks = 0;
  off_t start = size;
  while (start > 0 && held < budget && breaks < breaksWanted) {
    size_t length = std::min({kBlockSize, static_cast<size_t>(start), budget - held});
    start -= static_cast<off_t>(length);
    Result<std::string> block = readAt(fd, start, length);
    if (!block)
      return std::unexpected(block.error());
    breaks += static_cast<size_t>(std::count(block->begin(), block->end(), '\n'));
    held += block->size();
    blocks.push_back(std::move(*block));
  }
  Window window;
  window.reachedStart = start == 0;
  window.bytes.reserve(held);
  for (auto block = blocks.rbegin(); block != blocks.rend(); ++block)
    window.bytes += *block;
  return window;
}

/// Drops the continuation bytes a cut left at the front of a UTF-8 line.
std::string_view fromCharacterStart(std::string_view line) {
  for (int i = 0; i < 3 && !line.empty() && (static_cast<unsigned char>(line[0]) & 0xC0) == 0x80;
       ++i)
    line.remove_prefix(1);
  return line;
}

/// The line as shown: without a carriage return at its end, cut to its last kTailLineLimit bytes
/// when longer, and marked "…" when any of its front is missing.
std::string shownLine(std::string_view line, bool cut) {
  if (line.ends_with('\r'))
    line.remove_suffix(1);
  if (line.size() > kTailLineLimit) {
    line.remove_prefix(line.size() - kTailLineLimit);
    cut = true;
  }
  if (!cut)
    return repairUtf8(std::string(line));
  return "…" + repairUtf8(std::string(fromCharacterStart(line)));
}

}  // namespace

Result<std::vector<std::string>> lastLines(const std::filesystem::path& path, size_t count) {
  // Non-blocking, so that a log path naming a FIFO cannot hang the open.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd)
    return std::unexpected(openFailure(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0)
    return std::unexpected(openFailure(errno));
  if (S_ISDIR(info.st_mode))
    return std::unexpected(openFailure(EISDIR));
  if (!S_ISREG(info.st_mode))
    return fail(L("不是普通文件", "not a regular file"));
  std::vector<std::string> lines;
  if (count == 0 || info.st_size == 0)
    return lines;

  // A final line feed ends the last line rather than starting an empty one, so it takes one
  // more line feed to find where the first wanted line begins.
  Result<std::string> last = readAt(fd.get(), info.st_size - 1, 1);
  if (!last)
    return std::unexpected(last.error());
  const bool endsWithBreak = *last == "\n";
  const size_t budget =
      std::min(count, std::numeric_limits<size_t>::max() / kTailLineLimit) * kTailLineLimit;
  Result<Window> window = readWindow(fd.get(), info.st_size, count + (endsWithBreak ? 1 : 0),
                                     std::max(budget, kTailLineLimit));
  if (!window)
    return std::unexpected(window.error());

  std::string_view text = window->bytes;
  if (endsWithBreak && text.ends_with('\n'))
    text.remove_suffix(1);
  // Split from the end, so only the wanted lines are looked at.
  std::vector<std::string_view> pieces;
  bool firstIsWhole = window->reachedStart;
  while (pieces.size() < count) {
    size_t at = text.rfind('\n');
    if (at == std::string_view::npos) {
      pieces.push_back(text);
      break;
    }
    pieces.push_back(text.substr(at + 1));
    text = text.substr(0, at);
    if (pieces.size() == count)
      firstIsWhole = true;
  }
  for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece)
    lines.push_back(shownLine(*piece, piece == pieces.rbegin() && !firstIsWhole));
  return lines;
}

}  // namespace morvane
