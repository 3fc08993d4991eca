#include "entry_check.h"

#include <unistd.h>

#include <map>

#include "link_walk.h"

namespace ditto {
namespace {

/// Why a stored path is not a plain relative path inside the target, or nullopt.
std::optional<std::string> pathReason(const std::string& path) {
  if (path.empty())
    return "an entry has an empty name";
  if (path.front() == '/')
    return "absolute path " + path;
  for (const std::string& part : standins::pathComponents(path))
    if (part == "..")
      return "path with \"..\" " + path;
  return std::nullopt;
}

/// The target of a link already in the directory, or nullopt.
std::optional<std::string> linkOnDisk(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error)))
    return std::nullopt;
  std::filesystem::path target = std::filesystem::read_symlink(path, error);
  if (error)
    return "/";  // unreadable: judged as leading anywhere
  return target.string();
}

}  // namespace

std::optional<std::string> escapeReason(const EntryInfo& entry) {
  if (auto reason = pathReason(entry.path))
    return reason;
  switch (entry.kind) {
    case EntryKind::file:
    case EntryKind::directory:
    case EntryKind::symlink:
      return std::nullopt;
    case EntryKind::hardlink:
      if (auto reason = pathReason(entry.linkTarget))
        return "hard link " + entry.path + " to " + *reason;
      return std::nullopt;
    case EntryKind::other:
      return "unsupported entry type " + entry.path;
  }
  return std::nullopt;
}

std::optional<std::string> TreeCheck::add(EntryInfo entry) {
  if (auto reason = escapeReason(entry))
    return reason;
  entry.path = standins::joinComponents(standins::pathComponents(entry.path));
  entries_.push_back(std::move(entry));
  return std::nullopt;
}

std::optional<std::string> TreeCheck::finish() const {
  std::map<std::string, const EntryInfo*> byPath;
  for (const EntryInfo& entry : entries_) {
    auto [it, fresh] = byPath.emplace(entry.path, &entry);
    if (!fresh && !(it->second->kind == EntryKind::directory && entry.kind == EntryKind::directory))
      return "path given twice " + entry.path;
  }
  const standins::LinkLookup lookup =
      [&](const std::string& relative) -> std::optional<std::string> {
    auto found = byPath.find(relative);
    if (found == byPath.end())
      return linkOnDisk(target_ / relative);
    if (found->second->kind == EntryKind::symlink)
      return found->second->linkTarget;
    return std::nullopt;
  };
  for (const EntryInfo& entry : entries_) {
    if (auto link = standins::linkOnTheWay(entry.path, lookup))
      return entry.path + " would be written through the link " + *link;
    if (entry.kind == EntryKind::symlink) {
      if (auto reason = standins::linkEscape(entry.path, entry.linkTarget, lookup))
        return reason;
    } else if (entry.kind == EntryKind::hardlink) {
      const std::string target =
          standins::joinComponents(standins::pathComponents(entry.linkTarget));
      if (standins::linkOnTheWay(target, lookup) || lookup(target))
        return "hard link " + entry.path + " leads through a link to " + entry.linkTarget;
    }
  }
  return std::nullopt;
}

}  // namespace ditto
