#include <algorithm>
#include <numeric>

#include "agents.h"
#include "unicode_text.h"

namespace morvane::Agents {
namespace {

/// Puts `items[order[i]]` at `i` for every i, moving each item once; `order` is a permutation
/// and is used up.
template <class T>
void permute(std::vector<T>& items, std::vector<size_t>& order) {
  constexpr size_t kPlaced = SIZE_MAX;
  for (size_t start = 0; start < items.size(); ++start) {
    if (order[start] == kPlaced)
      continue;
    // Follow the cycle through `start`: each place takes the item that belongs there.
    T held = std::move(items[start]);
    size_t at = start;
    while (order[at] != start) {
      const size_t from = order[at];
      items[at] = std::move(items[from]);
      order[at] = kPlaced;
      at = from;
    }
    items[at] = std::move(held);
    order[at] = kPlaced;
  }
}

}  // namespace

std::vector<Agent> sorted(std::vector<Agent> agents) {
  // The agents are large and the list is read on every start: only keys and positions are
  // sorted, and each agent moves once, to its place.
  std::vector<std::string> keys;
  keys.reserve(agents.size());
  for (const Agent& agent : agents)
    keys.push_back(lowercaseSortKey(agent.label));
  std::vector<size_t> order(agents.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (agents[a].loaded != agents[b].loaded)
      return agents[a].loaded;
    return keys[a] < keys[b];
  });
  permute(agents, order);
  return agents;
}

}  // namespace morvane::Agents
