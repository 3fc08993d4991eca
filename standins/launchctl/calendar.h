#pragma once

#include <string>
#include <vector>

#include "calendar_schedule.h"

namespace launchctl {

// The calendar rules are Morvane's own, so that what it says of a schedule and what this engine
// does agree.
using morvane::CalendarEntry;
using morvane::neverMatches;
using morvane::nextCalendarStart;

/// The same times as systemd calendar expressions (OnCalendar=), one or two per entry.
std::vector<std::string> calendarExpressions(const CalendarEntry& entry);

}  // namespace launchctl
