#include "agent_status.h"

#include "agent_lookup.h"

namespace morvane {

std::optional<int64_t> lastExitStatus(const Agents::ScannedAgents& scan, const Agent& agent) {
  if (!agent.loaded)
    return std::nullopt;
  auto status = scan.lastExitStatuses.find(agent.label);
  return status != scan.lastExitStatuses.end() ? status->second : std::nullopt;
}

Result<AgentStatus> agentStatus(const Agents::ScannedAgents& scan, const std::string& name,
                                const FriendlyNames& names) {
  Result<Agent> agent = findAgent(scan.agents, name);
  if (!agent)
    return std::unexpected(agent.error());
  return AgentStatus{*agent, lastExitStatus(scan, *agent), friendlyName(agent->label, names),
                     readJobDescription(agent->path)};
}

}  // namespace morvane
