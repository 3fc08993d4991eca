#include <algorithm>

#include "agents.h"
#include "unicode_text.h"

namespace morvane::Agents {

std::vector<Agent> sorted(std::vector<Agent> agents) {
  struct Keyed {
    std::string key;
    Agent agent;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(agents.size());
  for (Agent& agent : agents)
    keyed.push_back({lowercaseSortKey(agent.label), std::move(agent)});
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (a.agent.loaded != b.agent.loaded)
      return a.agent.loaded;
    return a.key < b.key;
  });
  agents.clear();
  for (Keyed& entry : keyed)
    agents.push_back(std::move(entry.agent));
  return agents;
}

}  // namespace morvane::Agents
