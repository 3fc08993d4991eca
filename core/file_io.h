#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "failure.h"

namespace morvane {

/// The largest file readFile takes. Agents and settings are a few KiB; anything near this size
/// is not one of them, and reading it whole would only cost memory.
inline constexpr size_t kFileReadLimit = size_t{4} << 20;  // 4 MiB

/// Reads a whole regular file of at most `limit` bytes; the failure text is the path and the
/// reason. The file is opened without blocking, so a FIFO, a device or a directory fails at once
/// instead of hanging or feeding bytes without end.
Result<std::string> readFile(const std::filesystem::path& path, size_t limit = kFileReadLimit);

/// readFile's failure for an errno value that readRegularFile gave.
Failure readFailure(const std::filesystem::path& path, int error, size_t limit = kFileReadLimit);

/// readFile's work with the reason as an errno value: EINVAL for a file that is not a regular
/// file, EFBIG for one larger than `limit`.
std::expected<std::string, int> readRegularFile(const std::filesystem::path& path,
                                                size_t limit = kFileReadLimit);

/// readRegularFile for a name that a directory listing (of the open directory `directory`)
/// reported as a regular file, into `bytes`, whose memory a caller reading many files reuses;
/// it saves the checks a listed name does not need.
std::expected<void, int> readListedRegularFile(int directory, const char* name, std::string& bytes,
                                               size_t limit = kFileReadLimit);

/// Removes the temporary files that writers which are no longer running left in `directory`:
/// names made of `prefix`, a process id, and optionally "-" and more. A writer that is still
/// running keeps its file.
void removeAbandonedTemporaries(const std::filesystem::path& directory, std::string_view prefix);

/// Removes every temporary file of an atomic write (whatever its target) that a writer which is
/// no longer running left in `directory`.
void removeAbandonedTemporaries(const std::filesystem::path& directory);

/// Replaces `path` with `bytes` so that a reader sees either the old file whole or the new one.
///
/// The bytes go to a fresh file beside the target, are flushed to disk, and then renamed over it.
/// A successful write also removes the temporary files of earlier writers that were killed.
Outcome writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

/// writeFileAtomically() giving the new file the permissions `mode` whole, whatever the umask,
/// before it takes the old one's place.
Outcome writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

/// writeFileAtomically() without the flush to disk: a reader still sees the old file whole or the
/// new one, but a crash of the machine soon after may lose the change, or on some file systems
/// leave the file empty. For records worth less than the wait for the disk, such as a job's runs.
/// Nor does it read the folder for the temporary files of killed writers: a caller that writes
/// often removes them at a rarer moment, with removeAbandonedTemporaries().
Outcome writeFileAtomicallyUnflushed(const std::filesystem::path& path, std::string_view bytes);

/// Writes `bytes` as the new file `path` with the permissions `mode`, so that a reader sees
/// either no file or the whole one; never replaces a file that is there (the failure's errno is
/// then EEXIST). The bytes go to a fresh file beside the target, are flushed to disk, and are
/// then moved into place only if the name is still free.
std::expected<void, int> writeNewFileAtomically(const std::filesystem::path& path,
                                                std::string_view bytes, mode_t mode);

/// Creates `directory` and any missing parents; succeeds when it already exists.
Outcome createDirectories(const std::filesystem::path& directory);

/// The system's readable description of an errno value.
std::string describeErrno(int error);

}  // namespace morvane
