#include "calendar_schedule.h"

#include <array>

namespace morvane {
namespace {

/// How many days ahead a match is looked for: enough for the 29th of February with a weekday.
constexpr int kDaysAhead = 366 * 9;

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

/// A calendar date, with its weekday (0 is Sunday).
struct Date {
  int year;
  int month;  ///< 1-12
  int day;    ///< 1-31
  int weekday;

  void advance() {
    weekday = (weekday + 1) % 7;
    if (++day <= daysInMonth(year, month))
      return;
    day = 1;
    if (++month <= 12)
      return;
    month = 1;
    ++year;
  }
};

bool dayMatches(const CalendarEntry& entry, const Date& date) {
  if (entry.month && *entry.month != date.month)
    return false;
  if (entry.day && entry.weekday)
    return *entry.day == date.day || *entry.weekday % 7 == date.weekday;
  if (entry.day)
    return *entry.day == date.day;
  return !entry.weekday || *entry.weekday % 7 == date.weekday;
}

/// The first matching minute of `date` after `after`, if any; `earliest` is the first minute of
/// the day worth trying (in minutes since midnight).
std::optional<std::time_t> firstOnDay(const CalendarEntry& entry, const Date& date, int earliest,
                                      std::time_t after) {
  const int firstHour = entry.hour.value_or(0);
  const int lastHour = entry.hour.value_or(23);
  const int firstMinute = entry.minute.value_or(0);
  const int lastMinute = entry.minute.value_or(59);
  for (int hour = firstHour; hour <= lastHour; ++hour) {
    for (int minute = firstMinute; minute <= lastMinute; ++minute) {
      if (hour * 60 + minute < earliest)
        continue;
      std::tm moment{};
      moment.tm_year = date.year - 1900;
      moment.tm_mon = date.month - 1;
      moment.tm_mday = date.day;
      moment.tm_hour = hour;
      moment.tm_min = minute;
      moment.tm_isdst = -1;
      const std::time_t start = std::mktime(&moment);
      if (start != -1 && start > after)
        return start;
    }
  }
  return std::nullopt;
}

std::optional<std::time_t> nextStart(const CalendarEntry& entry, std::time_t after) {
  if (neverMatches(entry))
    return std::nullopt;
  std::tm now{};
  if (localtime_r(&after, &now) == nullptr)
    return std::nullopt;
  Date date{now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_wday};
  // Today only from the current minute on (a clock turned back by daylight saving may repeat
  // it); later days from midnight.
  int earliest = now.tm_hour * 60 + now.tm_min;
  for (int offset = 0; offset < kDaysAhead; ++offset, date.advance(), earliest = 0) {
    if (!dayMatches(entry, date))
      continue;
    if (const auto start = firstOnDay(entry, date, earliest, after))
      return start;
  }
  return std::nullopt;
}

}  // namespace

bool neverMatches(const CalendarEntry& entry) {
  // A weekday always comes round, and so does every day of the month in some month.
  if (entry.weekday || !entry.day || !entry.month)
    return false;
  return *entry.day > daysInMonth(2000, *entry.month);  // 2000 was a leap year.
}

std::optional<std::time_t> nextCalendarStart(const std::vector<CalendarEntry>& entries,
                                             std::time_t after) {
  std::optional<std::time_t> earliest;
  for (const CalendarEntry& entry : entries) {
    const std::optional<std::time_t> start = nextStart(entry, after);
    if (start && (!earliest || *start < *earliest))
      earliest = start;
  }
  return earliest;
}

std::vector<std::time_t> nextCalendarStarts(const std::vector<CalendarEntry>& entries,
                                            std::time_t after, size_t count) {
  std::vector<std::time_t> starts;
  while (starts.size() < count) {
    const std::optional<std::time_t> start = nextCalendarStart(entries, after);
    if (!start)
      break;
    starts.push_back(*start);
    after = *start;
  }
  return starts;
}

}  // namespace morvane
