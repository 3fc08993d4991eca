#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "failure.h"

namespace morvane {

/// Reads a whole file; the failure text is the path and the system's reason.
Result<std::string> readFile(const std::filesystem::path& path);

/// Replaces `path` with `bytes` so that a reader sees either the old file whole or the new one.
///
/// The bytes go to a fresh file beside the target, are flushed to disk, and then renamed over it.
Outcome writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

/// Creates `directory` and any missing parents; succeeds when it already exists.
Outcome createDirectories(const std::filesystem::path& directory);

/// The system's readable description of an errno value.
std::string describeErrno(int error);

}  // namespace morvane
