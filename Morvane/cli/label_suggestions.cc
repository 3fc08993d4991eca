#include "label_suggestions.h"

#include <unicode/utf8.h>

#include <algorithm>
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

/// Names longer than this many characters are matched by containment only: no typo of a real
/// label is that long, and comparing edits costs the product of the two lengths.
constexpr size_t kLongestTypo = 256;

/// The fewest insertions, deletions and substitutions that turn one text into the other, when
/// that is at most `limit`; else limit + 1. Only the cells within `limit` of the diagonal are
/// worked out, and the work stops as soon as every one of a row is beyond the limit.
size_t editDistance(std::u32string_view a, std::u32string_view b, size_t limit) {
  if (a.size() > b.size())
    std::swap(a, b);
  const size_t beyond = limit + 1;
  if (b.size() - a.size() > limit)
    return beyond;
  // row[j]: the distance between the first i characters of a and the first j of b, capped.
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j)
    row[j] = std::min(j, beyond);
  for (size_t i = 1; i <= a.size(); ++i) {
    const size_t first = i > limit ? i - limit : 1;
    const size_t last = std::min(b.size(), i + limit);
    size_t diagonal = row[first - 1];
    row[first - 1] = first == 1 ? std::min(i, beyond) : beyond;
    size_t least = row[first - 1];
    for (size_t j = first; j <= last; ++j) {
      const size_t above = row[j];
      row[j] =
          std::min({above + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1), beyond});
      diagonal = above;
      least = std::min(least, row[j]);
    }
    if (least >= beyond)
      return beyond;
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
  const bool fuzzy = wanted.size() <= kLongestTypo;
  const size_t allowance = editAllowance(wanted.size());
  // (contains the name ? 0 : 1, edits or length, label)
  std::set<std::tuple<int, size_t, std::string>> ranked;
  std::set<std::string> seen;
  for (const Agent& agent : agents) {
    if (!seen.insert(agent.label).second)
      continue;
    const std::u32string label = codePoints(lowercaseSortKey(agent.label));
    if (label.find(wanted) != std::u32string::npos) {
      ranked.emplace(0, label.size(), agent.label);
    } else if (fuzzy) {
      if (size_t edits = editDistance(wanted, label, allowance); edits <= allowance)
        ranked.emplace(1, edits, agent.label);
    }
  }
  std::vector<std::string> labels;
  for (auto it = ranked.begin(); it != ranked.end() && labels.size() < limit; ++it)
    labels.push_back(std::get<2>(*it));
  return labels;
}

}  // namespace morvane
