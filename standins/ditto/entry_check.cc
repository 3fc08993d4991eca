#include "entry_check.h"

#include <vector>

namespace ditto {
namespace {

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    if (end > start)
      parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

/// Why a stored path is not a plain relative path inside the target, or nullopt.
std::optional<std::string> pathReason(const std::string& path) {
  if (path.empty())
    return "an entry has an empty name";
  if (path.front() == '/')
    return "absolute path " + path;
  for (const std::string& part : components(path))
    if (part == "..")
      return "path with \"..\" " + path;
  return std::nullopt;
}

/// True when walking `target` from the link's folder never climbs above the target directory.
bool staysInside(const std::string& linkPath, const std::string& target) {
  std::vector<std::string> where = components(linkPath);
  if (!where.empty())
    where.pop_back();  // the link's own name
  for (const std::string& part : components(target)) {
    if (part == ".")
      continue;
    if (part == "..") {
      if (where.empty())
        return false;
      where.pop_back();
      continue;
    }
    where.push_back(part);
  }
  return true;
}

}  // namespace

std::optional<std::string> escapeReason(const EntryInfo& entry) {
  if (auto reason = pathReason(entry.path))
    return reason;
  switch (entry.kind) {
    case EntryKind::file:
    case EntryKind::directory:
      return std::nullopt;
    case EntryKind::hardlink:
      if (auto reason = pathReason(entry.linkTarget))
        return "hard link " + entry.path + " to " + *reason;
      return std::nullopt;
    case EntryKind::symlink:
      if (entry.linkTarget.empty() || entry.linkTarget.front() == '/' ||
          !staysInside(entry.path, entry.linkTarget))
        return "link " + entry.path + " points outside to " + entry.linkTarget;
      return std::nullopt;
    case EntryKind::other:
      return "unsupported entry type " + entry.path;
  }
  return std::nullopt;
}

}  // namespace ditto
