#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace launchctl {

/// One StartCalendarInterval dictionary: a field that is absent matches every value, as in
/// launchd. When both the day of the month and the weekday are given, either one matching is
/// enough (cron's rule).
struct CalendarEntry {
  std::optional<int> minute{};   ///< 0-59
  std::optional<int> hour{};     ///< 0-23
  std::optional<int> day{};      ///< Day of the month, 1-31.
  std::optional<int> weekday{};  ///< 0-6, Sunday first (a written 7 is Sunday too).
  std::optional<int> month{};    ///< 1-12
};

/// The first whole minute, in local time, strictly after `after` at which any of `entries`
/// matches; nullopt when none ever does (for example the 31st of February).
std::optional<std::time_t> nextCalendarStart(const std::vector<CalendarEntry>& entries,
                                             std::time_t after);

/// The same times as systemd calendar expressions (OnCalendar=), one or two per entry.
std::vector<std::string> calendarExpressions(const CalendarEntry& entry);

}  // namespace launchctl
