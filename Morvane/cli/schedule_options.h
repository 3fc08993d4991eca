#pragma once

#include <expected>
#include <string>

#include "new_agent_request.h"
#include "timed_start.h"

namespace morvane::CLI {

/// The timed start the schedule options ask for (none when none is given); else why not, in
/// one line of the interface language: options that cannot go together, "--on" or "--day"
/// without "--at", a bad time, day name, day of the month or interval.
std::expected<TimedStart, std::string> timedStart(const ScheduleOptions& options);

}  // namespace morvane::CLI
