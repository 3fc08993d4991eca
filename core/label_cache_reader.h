#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace morvane::Agents {

/// What tells a file's present contents from any earlier ones: every write moves its change
/// time, which no one can set back.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modified = 0;  ///< Nanoseconds since the epoch.
  int64_t changed = 0;   ///< Nanoseconds since the epoch.
  bool operator==(const FileIdentity&) const = default;
};

/// A label as read from its file, with the file's identity then.
struct RememberedLabel {
  FileIdentity identity;
  std::string label;
};

/// By file name.
using RememberedLabels = std::unordered_map<std::string, RememberedLabel>;

/// The labels a label cache keeps for `directory`:
///   {"directory": "<path>", "files": {"<file>": [device, inode, size, modified, changed,
///   "<label>"], …}}
/// None when the text is not such a document or is about another folder; an entry of another
/// shape is left out, so its file is read again. Read as it is parsed, without building the
/// document first: the cache is read by every change of one agent.
RememberedLabels parseLabelCache(std::string_view text, const std::string& directory);

}  // namespace morvane::Agents
