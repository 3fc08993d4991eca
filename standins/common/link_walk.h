#pragma once

// Following symbolic links inside a tree the way the system will, one step at a time, so that a
// chain of links that each look harmless (l1 -> ., l2 -> l1/..) is seen for where it leads.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace standins {

/// The target of the link at a path relative to the tree's root ("a/b"), or nullopt when
/// nothing, or something other than a link, is there.
using LinkLookup = std::function<std::optional<std::string>(const std::string& relative)>;

/// The non-empty components of a "/"-separated path; "." components are dropped.
std::vector<std::string> pathComponents(const std::string& path);

/// "a", "b" → "a/b"
std::string joinComponents(const std::vector<std::string>& components);

/// Why the link at `linkPath` (relative to the root), pointing at `target`, does not resolve to
/// a place inside the root, or nullopt when it does.
///
/// The target is walked from the link's folder component by component: ".." climbs one folder
/// (never above the root), and every link met on the way is followed before the walk goes on,
/// as the system resolves a path. A name that is not there is taken as a plain folder. An
/// absolute target, or more than 40 links in one resolution, is refused.
std::optional<std::string> linkEscape(const std::string& linkPath, const std::string& target,
                                      const LinkLookup& linkAt);

/// The first folder on the way to `path` (its own name left out) that is a link, or nullopt:
/// whatever is written at such a path lands where the link points.
std::optional<std::string> linkOnTheWay(const std::string& path, const LinkLookup& linkAt);

}  // namespace standins
