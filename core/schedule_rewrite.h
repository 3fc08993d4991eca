#pragma once

#include <filesystem>

#include "failure.h"
#include "timed_start.h"

namespace morvane {

/// Sets the schedule keys (StartInterval, StartCalendarInterval) of an agent's property list to
/// `start` and keeps every other key, the file's form (XML or binary) and its permissions. The
/// file is replaced atomically; a symbolic link stays and its target is written. Fails, writing
/// nothing, when the file cannot be read or is no property list with a dictionary at its root.
Outcome rewriteSchedule(const std::filesystem::path& plist, const TimedStart& start);

}  // namespace morvane
