#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

/// Why an entry's own names would land outside the target directory, or nullopt.
///
/// Paths are judged as text: an absolute path, an empty path or a ".." component is refused, and
/// so are entries that are neither files, folders nor links. Where links lead is for
/// `TreeCheck`, which sees the whole archive.
std::optional<std::string> escapeReason(const EntryInfo& entry);

/// Judges a whole archive before anything of it is written: every entry's names, and where
/// every link leads once all the archive's links (and any already in the target) are in place.
class TreeCheck {
 public:
  /// `target`: the directory the archive will be unpacked into.
  explicit TreeCheck(std::filesystem::path target) : target_(std::move(target)) {}

  /// Takes one entry; gives the reason when its names alone refuse it.
  std::optional<std::string> add(EntryInfo entry);

  /// Why the archive as a whole may not be unpacked, or nullopt: a path given twice (other than
  /// a folder), an entry written through a link, a link whose resolution, step by step, leaves
  /// the target, or a hard link to a link.
  std::optional<std::string> finish() const;

 private:
  std::filesystem::path target_;
  std::vector<EntryInfo> entries_;
};

}  // namespace ditto
