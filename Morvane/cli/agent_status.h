#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "agent.h"
#include "agents.h"
#include "display_name.h"
#include "failure.h"
#include "job_description.h"
#include "printed_job.h"
#include "schedule.h"
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
  /// What `launchctl print` tells of it, or why that failed; absent when it is not loaded.
  std::optional<Result<Agents::PrintedJob>> printed;
};

/// The last exit status the scan saw for an agent; absent when it is not loaded.
std::optional<int64_t> lastExitStatus(const Agents::ScannedAgents& scan, const Agent& agent);

/// When the loaded agent starts next on its schedule: the service manager's own time where
/// print told it, else the next calendar start of `schedule` after `now`. Absent when the
/// agent is not loaded, or neither knows one.
std::optional<std::time_t> nextStart(const AgentStatus& status, const Schedule& schedule,
                                     std::time_t now);

/// Gathers the status of the agent `name` means (see findAgent) among those of a scan.
Result<AgentStatus> agentStatus(const Agents::ScannedAgents& scan, const std::string& name,
                                const FriendlyNames& names);

}  // namespace morvane
