#include "failed_exits.h"

#include "job_description.h"
#include "log_tail.h"
#include "unicode_text.h"

namespace morvane {

std::optional<std::string> lastErrorLine(const Agent& agent) {
  Result<JobDescription> job = readJobDescription(agent.path);
  if (!job || !job->standardErrorPath)
    return std::nullopt;
  Result<std::vector<std::string>> tail = lastLines(resolvedLogPath(*job->standardErrorPath), 1);
  if (!tail || tail->empty() || trimWhitespaceAndNewlines(tail->back()).empty())
    return std::nullopt;
  return std::string(trimWhitespaceAndNewlines(tail->back()));
}

FailedExits failedExits(const Agents::ScannedAgents& scan) {
  FailedExits failed;
  for (const Agent& agent : scan.agents) {
    if (!agent.loaded || agent.pid || failed.contains(agent.label))
      continue;
    auto status = scan.lastExitStatuses.find(agent.label);
    if (status == scan.lastExitStatuses.end() || !status->second || *status->second == 0)
      continue;
    failed[agent.label] = FailedExit{*status->second, lastErrorLine(agent)};
  }
  return failed;
}

}  // namespace morvane
