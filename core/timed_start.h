#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "calendar_schedule.h"

namespace morvane {

/// When the service manager starts a job by the clock, as the user chooses it: every so many
/// seconds (StartInterval), on calendar entries (StartCalendarInterval), or neither.
struct TimedStart {
  std::optional<int64_t> interval{};
  std::vector<CalendarEntry> calendar{};

  friend bool operator==(const TimedStart&, const TimedStart&) = default;
};

/// A time of day on chosen days, the calendar schedules a person writes most: every day, on a
/// set of weekdays, or on one day of the month.
struct CalendarChoice {
  int hour = 9;
  int minute = 0;
  /// 0-6, Sunday first; none means every day.
  std::set<int> weekdays{};
  /// The day of the month (1-31), in place of the weekdays.
  std::optional<int> day{};

  friend bool operator==(const CalendarChoice&, const CalendarChoice&) = default;
};

namespace TimedStarts {

/// "HH:MM" (or "H:MM"), from 00:00 to 23:59, as hour and minute; else why not, in the
/// interface language.
std::expected<std::pair<int, int>, std::string> timeOfDay(std::string_view typed);

/// "mon,tue,…" (three-letter English names, any case), "weekdays" (Monday to Friday) or
/// "daily" (none: every day); else why not, naming the unknown day.
std::expected<std::set<int>, std::string> weekdays(std::string_view typed);

/// A day of the month typed as a whole number from 1 to 31; else why not.
std::expected<int, std::string> dayOfMonth(std::string_view typed);

/// "Choose at least one day", in the interface language.
std::string noDayChosen();

/// The calendar entries of a choice: one for every day or a day of the month, one per weekday
/// otherwise (all seven read as every day).
std::vector<CalendarEntry> entries(const CalendarChoice& choice);

/// The choice that writes exactly `calendar`; absent when no choice does (several times of
/// day, months, a field left out, a day of the month with a weekday).
std::optional<CalendarChoice> choiceOf(const std::vector<CalendarEntry>& calendar);

/// Sets the schedule keys of a property list's root dictionary to `start`: StartInterval, and
/// StartCalendarInterval as a dictionary for one entry or an array of them; a key `start`
/// does not use is removed.
void write(plist_t dictionary, const TimedStart& start);

}  // namespace TimedStarts
}  // namespace morvane
