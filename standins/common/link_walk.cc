#include "link_walk.h"

namespace standins {
namespace {

/// As many links as one resolution follows before it counts as a loop; the system's own limit.
constexpr int kMostLinks = 40;

/// Walks `target` from the folder `where`, following links; false when it leaves the root.
bool walk(std::vector<std::string>& where, const std::string& target, const LinkLookup& linkAt,
          int& links, std::string& reason) {
  if (!target.empty() && target.front() == '/') {
    reason = "absolute";
    return false;
  }
  for (const std::string& part : pathComponents(target)) {
    if (part == "..") {
      if (where.empty()) {
        reason = "outside";
        return false;
      }
      where.pop_back();
      continue;
    }
    where.push_back(part);
    const std::optional<std::string> next = linkAt(joinComponents(where));
    if (!next)
      continue;
    if (++links > kMostLinks) {
      reason = "loop";
      return false;
    }
    where.pop_back();  // a link's target is read from the folder that holds it
    if (!walk(where, *next, linkAt, links, reason))
      return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> pathComponents(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    if (end > start && path.compare(start, end - start, ".") != 0)
      parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string joinComponents(const std::vector<std::string>& components) {
  std::string path;
  for (const std::string& part : components)
    path += (path.empty() ? "" : "/") + part;
  return path;
}

std::optional<std::string> linkEscape(const std::string& linkPath, const std::string& target,
                                      const LinkLookup& linkAt) {
  std::vector<std::string> where = pathComponents(linkPath);
  if (!where.empty())
    where.pop_back();
  int links = 0;
  std::string reason;
  if (target.empty())
    return "link " + linkPath + " has no target";
  if (walk(where, target, linkAt, links, reason))
    return std::nullopt;
  if (reason == "loop")
    return "link " + linkPath + " starts a loop of links";
  return "link " + linkPath + " points outside to " + target;
}

std::optional<std::string> linkOnTheWay(const std::string& path, const LinkLookup& linkAt) {
  std::vector<std::string> folders = pathComponents(path);
  if (!folders.empty())
    folders.pop_back();
  std::vector<std::string> prefix;
  for (const std::string& part : folders) {
    prefix.push_back(part);
    if (linkAt(joinComponents(prefix)))
      return joinComponents(prefix);
  }
  return std::nullopt;
}

}  // namespace standins
