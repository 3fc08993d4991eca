#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "schedule.h"

// What a schedule says, in the interface language.
namespace morvane::ScheduleText {

/// One calendar entry: "daily at 09:00", "Mon at 09:00", "on the 1st at 03:30",
/// "hourly at :15", "every minute".
std::string entry(const CalendarEntry& entry);

/// The whole schedule on one line: "every 5 min", "Mon–Fri at 09:00", "3 times a day",
/// "at load", "kept alive", joined by commas; empty when the file gives no schedule. Entries
/// that differ only in their weekday read as one.
std::string summary(const Schedule& schedule);

/// The entries one per line when there are several that the summary only counts; else none.
std::vector<std::string> entryLines(const Schedule& schedule);

/// For a row: "next 09:00" today, "next 12 Dec 09:00" on another day of this year, with the
/// year on another.
std::string nextRunShort(std::time_t next, std::time_t now);

/// For a report: "2026-12-10 09:00 (Thu)", in local time.
std::string nextRunFull(std::time_t next);

/// "never", for a calendar whose dates never come.
std::string never();

}  // namespace morvane::ScheduleText
