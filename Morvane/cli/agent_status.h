#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent.h"
#include "agents.h"
#include "display_name.h"
#include "failure.h"
#include "job_description.h"
#include "settings.h"

namespace morvane {

/// Everything the program knows about one agent.
struct AgentStatus {
  Agent agent;
  /// The status column of `launchctl list`; absent when the agent is not loaded.
  std::optional<int64_t> lastExitStatus;
  /// The settings' display name for the label, when there is one.
  std::optional<std::string> friendlyName;
  /// What its property list runs, or why the list could not be read.
  Result<JobDescription> job;
};

/// The last exit status the scan saw for an agent; absent when it is not loaded.
std::optional<int64_t> lastExitStatus(const Agents::ScannedAgents& scan, const Agent& agent);

/// Gathers the status of the agent `name` means (see findAgent) among those of a scan.
Result<AgentStatus> agentStatus(const Agents::ScannedAgents& scan, const std::string& name,
                                const FriendlyNames& names);

}  // namespace morvane
