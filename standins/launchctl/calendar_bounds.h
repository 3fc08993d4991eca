#pragma once

#include <string>
#include <vector>

#include "calendar.h"

namespace launchctl {

/// The most StartCalendarInterval entries a job may keep once merged: each costs the supervisor
/// a search and the manager a timer to track, and thousands freeze either.
inline constexpr size_t kMaxCalendarEntries = 100;

/// A schedule with identical entries merged (the first of them kept, in order) and the entries
/// that can never fire (neverMatches) set apart.
struct BoundedCalendar {
  std::vector<CalendarEntry> entries;
  std::vector<CalendarEntry> neverFire;
};

/// Merges and sorts out `entries` (see BoundedCalendar).
BoundedCalendar boundCalendar(const std::vector<CalendarEntry>& entries);

/// The entry as its property list wrote it ("Month 2, Day 30"), for a log line.
std::string describeEntry(const CalendarEntry& entry);

}  // namespace launchctl
