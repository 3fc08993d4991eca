#include "calendar.h"

#include <cstdio>

namespace launchctl {
namespace {

/// How many days ahead a match is looked for: enough for the 29th of February with a weekday.
constexpr int kDaysAhead = 366 * 9;

bool dayMatches(const CalendarEntry& entry, const std::tm& date) {
  if (entry.month && *entry.month != date.tm_mon + 1) {
    return false;
  }
  if (entry.day && entry.weekday) {
    return *entry.day == date.tm_mday || *entry.weekday == date.tm_wday;
  }
  if (entry.day) {
    return *entry.day == date.tm_mday;
  }
  return !entry.weekday || *entry.weekday == date.tm_wday;
}

/// The values a field may take: the given one, or all of `first`..`last`.
std::vector<int> valuesOf(const std::optional<int>& field, int first, int last) {
  if (field) {
    return {*field};
  }
  std::vector<int> values;
  for (int value = first; value <= last; ++value) {
    values.push_back(value);
  }
  return values;
}

/// The first matching minute of the day `date` after `after`, if any.
std::optional<std::time_t> firstOnDay(const CalendarEntry& entry, const std::tm& date,
                                      std::time_t after) {
  for (const int hour : valuesOf(entry.hour, 0, 23)) {
    for (const int minute : valuesOf(entry.minute, 0, 59)) {
      std::tm moment = date;
      moment.tm_hour = hour;
      moment.tm_min = minute;
      moment.tm_sec = 0;
      moment.tm_isdst = -1;
      const std::time_t start = std::mktime(&moment);
      if (start != -1 && start > after) {
        return start;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::time_t> nextStart(const CalendarEntry& entry, std::time_t after) {
  std::tm today{};
  localtime_r(&after, &today);
  for (int offset = 0; offset < kDaysAhead; ++offset) {
    // Noon keeps the date right across daylight-saving changes.
    std::tm date{};
    date.tm_year = today.tm_year;
    date.tm_mon = today.tm_mon;
    date.tm_mday = today.tm_mday + offset;
    date.tm_hour = 12;
    date.tm_isdst = -1;
    if (std::mktime(&date) == -1) {
      return std::nullopt;
    }
    if (dayMatches(entry, date)) {
      if (const auto start = firstOnDay(entry, date, after)) {
        return start;
      }
    }
  }
  return std::nullopt;
}

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

std::optional<std::time_t> nextCalendarStart(const std::vector<CalendarEntry>& entries,
                                             std::time_t after) {
  std::optional<std::time_t> earliest;
  for (const CalendarEntry& entry : entries) {
    const std::optional<std::time_t> start = nextStart(entry, after);
    if (start && (!earliest || *start < *earliest)) {
      earliest = start;
    }
  }
  return earliest;
}

std::vector<std::string> calendarExpressions(const CalendarEntry& entry) {
  if (entry.day && entry.weekday) {
    return {expression(entry, entry.day, std::nullopt),
            expression(entry, std::nullopt, entry.weekday)};
  }
  return {expression(entry, entry.day, entry.weekday)};
}

}  // namespace launchctl
