#include "calendar.h"

#include <cstdio>

namespace launchctl {
namespace {

/// A field of a calendar expression: two digits, or "*".
std::string field(const std::optional<int>& value) {
  if (!value) {
    return "*";
  }
  char text[8];
  std::snprintf(text, sizeof text, "%02d", *value);
  return text;
}

std::string expression(const CalendarEntry& entry, const std::optional<int>& day,
                       const std::optional<int>& weekday) {
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::string text = weekday ? std::string(kWeekdays[*weekday]) + " " : "";
  return text + "*-" + field(entry.month) + "-" + field(day) + " " + field(entry.hour) + ":" +
         field(entry.minute) + ":00";
}

}  // namespace

std::vector<std::string> calendarExpressions(const CalendarEntry& entry) {
  if (entry.day && entry.weekday) {
    return {expression(entry, entry.day, std::nullopt),
            expression(entry, std::nullopt, entry.weekday)};
  }
  return {expression(entry, entry.day, entry.weekday)};
}

}  // namespace launchctl
