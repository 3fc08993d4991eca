#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "entry_check.h"

namespace ditto {

/// Bounds that keep a hostile archive from filling the disk.
struct Limits {
  uint64_t totalBytes = uint64_t{1} << 30;  ///< all entries' contents together, 1 GiB
  uint64_t entries = 100000;
};

/// Unpacks the zip archive `zip` into `directory`, creating it when missing.
///
/// Every entry is checked before anything is written, so an archive with one entry that would
/// land outside `directory` writes nothing at all. Executable bits are kept. Changes the working
/// directory to `directory`. Returns an empty text on success, else the reason.
std::string extractZip(const std::filesystem::path& zip, const std::filesystem::path& directory,
                       const Limits& limits = {});

}  // namespace ditto
