#include <charconv>

#include "agents.h"
#include "unicode_text.h"

namespace morvane::Agents {
namespace {

/// A decimal integer with an optional sign and nothing else; absent for any other text.
std::optional<int64_t> decimal(std::string_view text) {
  bool plus = !text.empty() && text.front() == '+';
  if (plus)
    text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || (plus && text.front() == '-'))
    return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

/// Cuts at most two tabs: "a\tb\tc\td" → {"a", "b", "c\td"}.
std::vector<std::string_view> columns(std::string_view line) {
  std::vector<std::string_view> pieces;
  while (pieces.size() < 2) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
      break;
    pieces.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  pieces.push_back(line);
  return pieces;
}

/// Cuts at every " => ".
std::vector<std::string_view> arrowPieces(std::string_view line) {
  constexpr std::string_view kArrow = " => ";
  std::vector<std::string_view> pieces;
  for (size_t at; (at = line.find(kArrow)) != std::string_view::npos;) {
    pieces.push_back(line.substr(0, at));
    line.remove_prefix(at + kArrow.size());
  }
  pieces.push_back(line);
  return pieces;
}

std::string_view trimQuotesSpacesTabs(std::string_view text) {
  constexpr std::string_view kTrimmed = "\" \t";
  size_t start = text.find_first_not_of(kTrimmed);
  if (start == std::string_view::npos)
    return {};
  return text.substr(start, text.find_last_not_of(kTrimmed) - start + 1);
}

}  // namespace

LoadedJobs parseList(std::string_view text) {
  LoadedJobs jobs;
  for (std::string_view line : nonEmptyLines(text)) {
    std::vector<std::string_view> pieces = columns(line);
    if (pieces.size() != 3 || pieces[0] == "PID")
      continue;
    jobs[std::string(pieces[2])] = decimal(pieces[0]);
  }
  return jobs;
}

ExitStatuses parseExitStatuses(std::string_view text) {
  ExitStatuses statuses;
  for (std::string_view line : nonEmptyLines(text)) {
    std::vector<std::string_view> pieces = columns(line);
    if (pieces.size() != 3 || pieces[0] == "PID")
      continue;
    statuses[std::string(pieces[2])] = decimal(pieces[1]);
  }
  return statuses;
}

std::set<std::string> parseDisabled(std::string_view text) {
  std::set<std::string> labels;
  for (std::string_view line : nonEmptyLines(text)) {
    std::vector<std::string_view> pieces = arrowPieces(line);
    if (pieces.size() != 2)
      continue;
    std::string_view value = trimWhitespace(pieces[1]);
    if (value != "disabled" && value != "true")
      continue;
    labels.emplace(trimQuotesSpacesTabs(pieces[0]));
  }
  return labels;
}

}  // namespace morvane::Agents
