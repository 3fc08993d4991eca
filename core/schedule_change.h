#pragma once

#include <string>

#include "agent.h"
#include "failure.h"
#include "timed_start.h"

namespace morvane::Agents {

/// Gives an existing agent a new timed start: its property list's schedule keys are rewritten
/// (see rewriteSchedule) and, when the service manager has it loaded, it is unloaded and loaded
/// again so that the change takes effect, each step confirmed by `launchctl list`. Gives
/// whether it was reloaded. Nothing is written when the loaded state cannot be known.
Result<bool> changeSchedule(const Agent& agent, const TimedStart& start);

/// The line that reports a change: "Schedule of com.example.job set: daily at 09:00, reloaded",
/// or "Schedule of com.example.job removed", in the interface language.
std::string scheduleChangedText(const std::string& name, const TimedStart& start, bool reloaded);

}  // namespace morvane::Agents
