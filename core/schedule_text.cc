#include "schedule_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>

#include "language.h"

namespace morvane::ScheduleText {
namespace {

constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kChineseWeekdays = {"周日", "周一", "周二", "周三",
                                                         "周四", "周五", "周六"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string twoDigits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

std::string clock(int hour, int minute) {
  return twoDigits(hour) + ":" + twoDigits(minute);
}

/// "1st", "2nd", "3rd", "11th", "22nd".
std::string ordinal(int day) {
  const int tens = day % 100 / 10;
  const int ones = day % 10;
  const char* suffix = tens == 1   ? "th"
                       : ones == 1 ? "st"
                       : ones == 2 ? "nd"
                       : ones == 3 ? "rd"
                                   : "th";
  return std::to_string(day) + suffix;
}

std::string weekdayName(int weekday) {
  const auto index = static_cast<size_t>(weekday % 7);
  return L(kChineseWeekdays[index], kWeekdays[index]);
}

/// Weekdays in the order of a week that starts on Monday.
int mondayFirst(int weekday) {
  return (weekday + 6) % 7;
}

/// "Mon–Fri" for a run of three or more days, else "Mon, Wed"; "周一至周五", "周一、周三".
std::string weekdaysText(const std::set<int>& weekdays) {
  std::vector<int> days(weekdays.begin(), weekdays.end());
  std::sort(days.begin(), days.end(), [](int a, int b) { return mondayFirst(a) < mondayFirst(b); });
  const bool run = days.size() >= 3 && mondayFirst(days.back()) - mondayFirst(days.front()) ==
                                           static_cast<int>(days.size()) - 1;
  if (run)
    return L([&] { return weekdayName(days.front()) + "至" + weekdayName(days.back()); },
             [&] { return weekdayName(days.front()) + "–" + weekdayName(days.back()); });
  std::string text;
  for (const int day : days)
    text += (text.empty() ? "" : L("、", ", ")) + weekdayName(day);
  return text;
}

/// The days an entry runs on, without its time; empty for every day.
std::string datePhrase(const CalendarEntry& entry, const std::set<int>& weekdays) {
  const std::string days = weekdays.empty() ? "" : weekdaysText(weekdays);
  if (entry.month && entry.day) {
    const std::string date =
        L([&] { return std::to_string(*entry.month) + "月" + std::to_string(*entry.day) + "日"; },
          [&] {
            return "on " + std::to_string(*entry.day) + " " +
                   kMonths[static_cast<size_t>(*entry.month - 1)];
          });
    return days.empty() ? date : date + L("或", " or ") + days;
  }
  std::string text;
  if (entry.day)
    text = L([&] { return "每月 " + std::to_string(*entry.day) + " 日"; },
             [&] { return "on the " + ordinal(*entry.day); });
  if (!days.empty())
    text += text.empty() ? days : L("或", " or ") + days;
  if (entry.month) {
    const auto month = static_cast<size_t>(*entry.month - 1);
    text = L([&] { return std::to_string(*entry.month) + "月" + (text.empty() ? "每天" : text); },
             [&] { return (text.empty() ? "daily" : text) + " in " + kMonths[month]; });
  }
  return text;
}

std::string entryText(const CalendarEntry& entry, const std::set<int>& weekdays) {
  const std::string date = datePhrase(entry, weekdays);
  if (entry.hour && entry.minute) {
    const std::string time = clock(*entry.hour, *entry.minute);
    return L([&] { return (date.empty() ? "每天" : date) + " " + time; },
             [&] { return (date.empty() ? "daily" : date) + " at " + time; });
  }
  std::string time;
  if (entry.minute)
    time = L("每小时 :", "hourly at :") + twoDigits(*entry.minute);
  else if (entry.hour)
    time =
        L([&] { return clock(*entry.hour, 0) + "–" + clock(*entry.hour, 59) + " 每分钟"; },
          [&] { return "every minute " + clock(*entry.hour, 0) + "–" + clock(*entry.hour, 59); });
  else
    time = L("每分钟", "every minute");
  if (date.empty())
    return time;
  return L([&] { return date + " " + time; }, [&] { return time + ", " + date; });
}

std::set<int> weekdaySet(const CalendarEntry& entry) {
  return entry.weekday ? std::set<int>{*entry.weekday % 7} : std::set<int>{};
}

/// Entries alike but for their weekday read as one entry on a set of days; absent otherwise.
std::optional<std::string> mergedWeekdays(const std::vector<CalendarEntry>& entries) {
  std::set<int> weekdays;
  for (const CalendarEntry& entry : entries) {
    CalendarEntry first = entries.front();
    first.weekday = entry.weekday;
    if (!entry.weekday || entry.day || !(first == entry))
      return std::nullopt;
    weekdays.insert(*entry.weekday % 7);
  }
  CalendarEntry common = entries.front();
  common.weekday.reset();
  return entryText(common, weekdays.size() == 7 ? std::set<int>{} : weekdays);
}

std::string calendarText(const std::vector<CalendarEntry>& entries) {
  if (entries.size() == 1)
    return entry(entries.front());
  if (std::optional<std::string> merged = mergedWeekdays(entries))
    return *merged;
  const std::string count = std::to_string(entries.size());
  const bool daily = std::all_of(entries.begin(), entries.end(), [](const CalendarEntry& e) {
    return e.hour && e.minute && !e.day && !e.weekday && !e.month;
  });
  if (daily)
    return L([&] { return "每天 " + count + " 次"; }, [&] { return count + " times a day"; });
  return L([&] { return count + " 个日程时间"; }, [&] { return count + " calendar times"; });
}

std::string intervalText(int64_t seconds) {
  if (seconds % 3600 == 0) {
    const std::string hours = std::to_string(seconds / 3600);
    return L([&] { return "每 " + hours + " 小时"; }, [&] { return "every " + hours + " h"; });
  }
  if (seconds % 60 == 0) {
    const std::string minutes = std::to_string(seconds / 60);
    return L([&] { return "每 " + minutes + " 分钟"; },
             [&] { return "every " + minutes + " min"; });
  }
  const std::string count = std::to_string(seconds);
  return L([&] { return "每 " + count + " 秒"; }, [&] { return "every " + count + " s"; });
}

std::tm localTime(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return local;
}

}  // namespace

std::string entry(const CalendarEntry& entry) {
  return entryText(entry, weekdaySet(entry));
}

std::string summary(const Schedule& schedule) {
  std::vector<std::string> parts;
  if (schedule.startInterval)
    parts.push_back(intervalText(*schedule.startInterval));
  if (!schedule.calendar.empty())
    parts.push_back(calendarText(schedule.calendar));
  if (schedule.runAtLoad)
    parts.push_back(L("加载时运行", "at load"));
  if (schedule.keepAlive)
    parts.push_back(L("保持运行", "kept alive"));
  std::string text;
  for (const std::string& part : parts)
    text += (text.empty() ? "" : L("，", ", ")) + part;
  return text;
}

std::vector<std::string> entryLines(const Schedule& schedule) {
  std::vector<std::string> lines;
  if (schedule.calendar.size() < 2 || mergedWeekdays(schedule.calendar))
    return lines;
  for (const CalendarEntry& calendarEntry : schedule.calendar)
    lines.push_back(entry(calendarEntry));
  return lines;
}

std::string nextRunShort(std::time_t next, std::time_t now) {
  const std::tm at = localTime(next);
  const std::tm today = localTime(now);
  const std::string time = clock(at.tm_hour, at.tm_min);
  if (at.tm_year == today.tm_year && at.tm_yday == today.tm_yday)
    return L("下次 ", "next ") + time;
  const std::string day = std::to_string(at.tm_mday);
  const std::string month = std::to_string(at.tm_mon + 1);
  const std::string year = std::to_string(at.tm_year + 1900);
  const bool thisYear = at.tm_year == today.tm_year;
  return L(
      [&] { return "下次 " + (thisYear ? "" : year + "年") + month + "月" + day + "日 " + time; },
      [&] {
        return "next " + day + " " + kMonths[static_cast<size_t>(at.tm_mon)] +
               (thisYear ? "" : " " + year) + " " + time;
      });
}

std::string nextRunFull(std::time_t next) {
  const std::tm at = localTime(next);
  const std::string date = std::to_string(at.tm_year + 1900) + "-" + twoDigits(at.tm_mon + 1) +
                           "-" + twoDigits(at.tm_mday) + " " + clock(at.tm_hour, at.tm_min);
  return L([&] { return date + "（" + weekdayName(at.tm_wday) + "）"; },
           [&] { return date + " (" + weekdayName(at.tm_wday) + ")"; });
}

std::string never() {
  return L("永不", "never");
}

}  // namespace morvane::ScheduleText
