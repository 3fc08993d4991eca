#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "agent.h"

namespace morvane {

/// Up to `limit` distinct labels that look like `name`, closest first, ignoring letter case: labels
/// that contain it come first (shortest first), then labels a few edits away.
std::vector<std::string> closestLabels(const std::vector<Agent>& agents, const std::string& name,
                                       size_t limit = 3);

}  // namespace morvane
