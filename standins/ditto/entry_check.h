#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ditto {

/// What kind of thing an archive entry makes.
enum class EntryKind : uint8_t { file, directory, symlink, hardlink, other };

/// The parts of one archive entry that decide whether it may be unpacked.
struct EntryInfo {
  std::string path;
  EntryKind kind = EntryKind::file;
  /// For links: where the link points (a symlink's text, a hard link's archive path).
  std::string linkTarget;
};

/// Why an entry would land outside the target directory, or nullopt when it stays inside.
///
/// Paths are judged as text: an absolute path, an empty path or a ".." component is refused;
/// a symbolic link is refused when its target, taken relative to the link's own folder, would
/// climb above the target directory; a hard link is judged like a path.
std::optional<std::string> escapeReason(const EntryInfo& entry);

}  // namespace ditto
