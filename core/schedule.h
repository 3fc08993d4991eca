#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

#include "calendar_schedule.h"
#include "failure.h"

namespace morvane {

/// When an agent's property list says the service manager starts it.
struct Schedule {
  /// StartInterval, in seconds; absent when not given or not above 0.
  std::optional<int64_t> startInterval{};
  /// StartCalendarInterval's entries, in the file's order; entries with a field of the wrong
  /// type or out of range are left out, as the service manager refuses them.
  std::vector<CalendarEntry> calendar{};
  bool runAtLoad = false;
  /// KeepAlive true, or a dictionary of conditions.
  bool keepAlive = false;

  /// Whether the file says nothing of when to start the job.
  bool empty() const { return !startInterval && calendar.empty() && !runAtLoad && !keepAlive; }

  friend bool operator==(const Schedule&, const Schedule&) = default;
};

/// The schedule keys of a property list's root dictionary.
Schedule readSchedule(plist_t root);

/// Reads the schedule of an agent's property list (XML or binary).
Result<Schedule> readScheduleFile(const std::filesystem::path& plist);

/// The next calendar start after `now`; absent when the schedule has no calendar entries or
/// they name only dates that never come.
std::optional<std::time_t> nextRun(const Schedule& schedule, std::time_t now);

}  // namespace morvane
