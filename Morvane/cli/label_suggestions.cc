#include "label_suggestions.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <tuple>

#include "unicode_text.h"

namespace morvane {
namespace {

std::u32string codePoints(std::string_view text) {
  std::u32string points;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t at = 0; at < length;) {
    UChar32 c = 0;
    U8_NEXT(bytes, at, length, c);
    points.push_back(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
  }
  return points;
}

/// The fewest insertions, deletions and substitutions that turn one text into the other.
size_t editDistance(const std::u32string& a, const std::u32string& b) {
  std::vector<size_t> row(b.size() + 1);
  std::iota(row.begin(), row.end(), size_t{0});
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

/// How many edits still count as a likely typo of a name this long.
size_t editAllowance(size_t length) {
  return std::max<size_t>(2, length / 5);
}

}  // namespace

std::vector<std::string> closestLabels(const std::vector<Agent>& agents, const std::string& name,
                                       size_t limit) {
  const std::u32string wanted = codePoints(lowercaseSortKey(name));
  if (wanted.empty())
    return {};
  // (contains the name ? 0 : 1, edits or length, label)
  std::set<std::tuple<int, size_t, std::string>> ranked;
  std::set<std::string> seen;
  for (const Agent& agent : agents) {
    if (!seen.insert(agent.label).second)
      continue;
    const std::u32string label = codePoints(lowercaseSortKey(agent.label));
    if (label.find(wanted) != std::u32string::npos) {
      ranked.emplace(0, label.size(), agent.label);
    } else if (size_t edits = editDistance(wanted, label); edits <= editAllowance(wanted.size())) {
      ranked.emplace(1, edits, agent.label);
    }
  }
  std::vector<std::string> labels;
  for (auto it = ranked.begin(); it != ranked.end() && labels.size() < limit; ++it)
    labels.push_back(std::get<2>(*it));
  return labels;
}

}  // namespace morvane
