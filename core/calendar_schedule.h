#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <vector>

namespace morvane {

/// One StartCalendarInterval dictionary: a field that is absent matches every value, as in
/// launchd. When both the day of the month and the weekday are given, either one matching is
/// enough (cron's rule).
struct CalendarEntry {
  std::optional<int> minute{};   ///< 0-59
  std::optional<int> hour{};     ///< 0-23
  std::optional<int> day{};      ///< Day of the month, 1-31.
  std::optional<int> weekday{};  ///< 0-6, Sunday first (a written 7 is Sunday too).
  std::optional<int> month{};    ///< 1-12

  friend bool operator==(const CalendarEntry&, const CalendarEntry&) = default;
};

/// One key of a StartCalendarInterval dictionary: the field it sets and the values it takes.
struct CalendarField {
  const char* key;
  std::optional<int> CalendarEntry::*field;
  int64_t least;
  int64_t most;
};

/// Every key of a calendar dictionary, in launchd's order. A Weekday of 7 is taken (as
/// Sunday); whoever reads one stores it as 0.
inline constexpr CalendarField kCalendarFields[] = {
    {"Minute", &CalendarEntry::minute, 0, 59}, {"Hour", &CalendarEntry::hour, 0, 23},
    {"Day", &CalendarEntry::day, 1, 31},       {"Weekday", &CalendarEntry::weekday, 0, 7},
    {"Month", &CalendarEntry::month, 1, 12},
};

/// Whether the entry names a date that never comes, such as the 30th of February.
bool neverMatches(const CalendarEntry& entry);

/// The first whole minute, in local time, strictly after `after` at which any of `entries`
/// matches; nullopt when none ever does (for example the 31st of February).
std::optional<std::time_t> nextCalendarStart(const std::vector<CalendarEntry>& entries,
                                             std::time_t after);

/// The first `count` starts after `after`, fewer when the entries run out of dates.
std::vector<std::time_t> nextCalendarStarts(const std::vector<CalendarEntry>& entries,
                                            std::time_t after, size_t count);

}  // namespace morvane
