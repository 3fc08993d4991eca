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

BoundedCalendar boundCalendar(const std::vector<CalendarEntry>& entries) {
  BoundedCalendar bounded;
  std::set<decltype(fields(CalendarEntry{}))> seen;
  for (const CalendarEntry& entry : entries) {
    if (!seen.insert(fields(entry)).second) {
      continue;
    }
    (neverMatches(entry) ? bounded.neverFire : bounded.entries).push_back(entry);
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
