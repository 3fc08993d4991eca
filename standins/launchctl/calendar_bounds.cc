#include "calendar_bounds.h"

#include <set>
#include <tuple>

namespace launchctl {
namespace {

/// Everything that tells one entry from another.
auto fields(const CalendarEntry& entry) {
  return std::tuple(entry.minute, entry.hour, entry.day, entry.weekday, entry.month);
}

}  // namespace

bool canEverFire(const CalendarEntry& entry) {
  // The longest each month ever is, leap years counted.
  static constexpr int kLongest[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return !entry.month || !entry.day || entry.weekday || *entry.day <= kLongest[*entry.month - 1];
}

BoundedCalendar boundCalendar(const std::vector<CalendarEntry>& entries) {
  BoundedCalendar bounded;
  std::set<decltype(fields(CalendarEntry{}))> seen;
  for (const CalendarEntry& entry : entries) {
    if (!seen.insert(fields(entry)).second) {
      continue;
    }
    (canEverFire(entry) ? bounded.entries : bounded.neverFire).push_back(entry);
  }
  return bounded;
}

std::string describeEntry(const CalendarEntry& entry) {
  std::string text;
  const auto add = [&](const char* key, const std::optional<int>& value) {
    if (value) {
      text += (text.empty() ? "" : ", ") + std::string(key) + " " + std::to_string(*value);
    }
  };
  add("Month", entry.month);
  add("Day", entry.day);
  add("Weekday", entry.weekday);
  add("Hour", entry.hour);
  add("Minute", entry.minute);
  return text.empty() ? "every minute" : text;
}

}  // namespace launchctl
