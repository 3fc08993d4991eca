#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "failure.h"

namespace morvane {

/// The longest part of one line the tail keeps, in bytes; a longer line keeps its end.
inline constexpr size_t kTailLineLimit = 16 * 1024;

/// The last `count` lines of a log file, oldest first, without their line breaks (a carriage
/// return before the line feed goes too), as UTF-8 with invalid bytes replaced.
///
/// Reads backwards from the end in blocks and never more than `count` × kTailLineLimit bytes,
/// so the size of the file does not matter. A line cut to fit starts with "…". Fails, with a
/// short reason in the interface language, when the file is missing, is no regular file or
/// cannot be read.
Result<std::vector<std::string>> lastLines(const std::filesystem::path& path, size_t count);

}  // namespace morvane
