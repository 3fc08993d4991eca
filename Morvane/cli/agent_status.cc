#include "agent_status.h"

#include "agent_lookup.h"

namespace morvane {

std::optional<int64_t> lastExitStatus(const Agents::ScannedAgents& scan, const Agent& agent) {
  if (!agent.loaded)
    return std::nullopt;
  auto status = scan.lastExitStatuses.find(agent.label);
  return status != scan.lastExitStatuses.end() ? status->second : std::nullopt;
}

std::optional<std::time_t> nextStart(const AgentStatus& status, const Schedule& schedule,
                                     std::time_t now) {
  if (!status.agent.loaded)
    return std::nullopt;
  if (status.printed && *status.printed && (*status.printed)->nextRun)
    return (*status.printed)->nextRun;
  return nextRun(schedule, now);
}

Result<AgentStatus> agentStatus(const Agents::ScannedAgents& scan, const std::string& name,
                                const FriendlyNames& names) {
  Result<Agent> agent = findAgent(scan.agents, name);
  if (!agent)
    return std::unexpected(agent.error());
  AgentStatus status{*agent, lastExitStatus(scan, *agent), friendlyName(agent->label, names),
                     readJobDescription(agent->path), std::nullopt};
  if (agent->loaded)
    status.printed = Agents::printedJob(agent->label, Agents::kQueryTimeout);
  return status;
}

}  // namespace morvane
