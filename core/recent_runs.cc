// Asking the service manager for a loaded job's runs: what `launchctl print` shows of them. Kept
// apart from the record format, which the built-in engine's supervisors write with nothing else
// of the core.

#include "printed_job.h"
#include "run_history.h"

namespace morvane {

namespace Agents {

std::optional<Runs> parsePrintedRuns(std::string_view text) {
  constexpr std::string_view kOpening = "run history = {";
  size_t at = 0;
  while (at < text.size()) {
    const std::string_view line = takeLine(text, at);
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line.substr(start) != kOpening)
      continue;
    Runs runs;
    while (at < text.size()) {
      const std::string_view entry = takeLine(text, at);
      const size_t first = entry.find_first_not_of(" \t");
      if (first != std::string_view::npos && entry.substr(first) == "}")
        return runs;
      if (std::optional<Run> run = parseRunLine(entry))
        runs.push_back(*run);
    }
    return runs;  // cut short: what came before the cut
  }
  return std::nullopt;
}

Result<Runs> recentRuns(const std::string& label, double timeout) {
  Result<PrintedJob> printed = printedJob(label, timeout);
  if (!printed)
    return std::unexpected(printed.error());
  return std::move(printed->runs);
}

}  // namespace Agents

}  // namespace morvane
