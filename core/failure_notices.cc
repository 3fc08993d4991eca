#include "failure_notices.h"

namespace morvane {

std::optional<Run> FailureNotices::take(const std::string& label, const Runs& runs, bool baseline) {
  Seen& seen = seen_[label];
  std::optional<Run> latestFailure;
  std::optional<int64_t> lastEnd = seen.lastEnd;
  for (const Run& run : runs) {
    if (!run.ended || (seen.lastEnd && *run.ended <= *seen.lastEnd))
      continue;
    lastEnd = std::max(lastEnd.value_or(*run.ended), *run.ended);
    if (run.failed() && (!latestFailure || *run.ended >= *latestFailure->ended))
      latestFailure = run;
  }
  seen.lastEnd = lastEnd;
  if (baseline || !latestFailure)
    return std::nullopt;
  if (seen.lastNotice && *latestFailure->ended - *seen.lastNotice < kQuietTime)
    return std::nullopt;
  seen.lastNotice = *latestFailure->ended;
  return latestFailure;
}

}  // namespace morvane
