#include "timed_start.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "language.h"

namespace morvane::TimedStarts {
namespace {

constexpr std::array<std::string_view, 7> kDayNames = {"sun", "mon", "tue", "wed",
                                                       "thu", "fri", "sat"};

/// One or two decimal digits, and nothing else.
std::optional<int> smallNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 2 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size())
    return std::nullopt;
  return value;
}

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

plist_t entryNode(const CalendarEntry& entry) {
  plist_t node = plist_new_dict();
  for (const CalendarField& field : kCalendarFields) {
    if (const std::optional<int>& value = entry.*field.field)
      plist_dict_set_item(node, field.key, plist_new_uint(static_cast<uint64_t>(*value)));
  }
  return node;
}

}  // namespace

std::expected<std::pair<int, int>, std::string> timeOfDay(std::string_view typed) {
  const size_t colon = typed.find(':');
  const std::optional<int> hour =
      colon == std::string_view::npos ? std::nullopt : smallNumber(typed.substr(0, colon));
  const std::optional<int> minute = colon == std::string_view::npos || typed.size() - colon != 3
                                        ? std::nullopt
                                        : smallNumber(typed.substr(colon + 1));
  if (!hour || !minute || *hour > 23 || *minute > 59)
    return std::unexpected(
        L("时间须为 HH:MM，从 00:00 到 23:59", "The time must be HH:MM, from 00:00 to 23:59"));
  return std::pair{*hour, *minute};
}

std::expected<std::set<int>, std::string> weekdays(std::string_view typed) {
  const std::string days = lowerCase(typed);
  if (days == "daily")
    return std::set<int>{};
  if (days == "weekdays")
    return std::set<int>{1, 2, 3, 4, 5};
  std::set<int> chosen;
  size_t start = 0;
  while (true) {
    const size_t comma = days.find(',', start);
    const std::string_view name =
        std::string_view(days).substr(start, comma == std::string::npos ? comma : comma - start);
    auto known = std::find(kDayNames.begin(), kDayNames.end(), name);
    if (known == kDayNames.end()) {
      const std::string shown(typed.substr(start, name.size()));
      return std::unexpected(L(
          [&] {
            return "不认识的日子“" + shown +
                   "”：请用 mon、tue、wed、thu、fri、sat、sun、weekdays 或 daily";
          },
          [&] {
            return "Unknown day “" + shown +
                   "”: use mon, tue, wed, thu, fri, sat, sun, weekdays or daily";
          }));
    }
    chosen.insert(static_cast<int>(known - kDayNames.begin()));
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  return chosen.size() == 7 ? std::set<int>{} : chosen;
}

std::expected<int, std::string> dayOfMonth(std::string_view typed) {
  const std::optional<int> day = smallNumber(typed);
  if (!day || *day < 1 || *day > 31)
    return std::unexpected(L("每月的日期须为 1 到 31 的整数",
                             "The day of the month must be a whole number from 1 to 31"));
  return *day;
}

std::string noDayChosen() {
  return L("请至少选择一天", "Choose at least one day");
}

std::vector<CalendarEntry> entries(const CalendarChoice& choice) {
  CalendarEntry base;
  base.hour = choice.hour;
  base.minute = choice.minute;
  if (choice.day) {
    base.day = choice.day;
    return {base};
  }
  if (choice.weekdays.empty() || choice.weekdays.size() == 7)
    return {base};
  std::vector<CalendarEntry> found;
  for (int weekday : choice.weekdays) {
    CalendarEntry entry = base;
    entry.weekday = weekday;
    found.push_back(entry);
  }
  return found;
}

std::optional<CalendarChoice> choiceOf(const std::vector<CalendarEntry>& calendar) {
  if (calendar.empty())
    return std::nullopt;
  const CalendarEntry& first = calendar.front();
  if (!first.hour || !first.minute)
    return std::nullopt;
  CalendarChoice choice{*first.hour, *first.minute, {}, first.day};
  for (const CalendarEntry& entry : calendar) {
    if (entry.hour != first.hour || entry.minute != first.minute || entry.month ||
        (entry.day && entry.weekday))
      return std::nullopt;
    if (entry.weekday)
      choice.weekdays.insert(*entry.weekday % 7);
  }
  // Only entries() of the choice give the calendar back as it is.
  if (entries(choice) != calendar)
    return std::nullopt;
  return choice;
}

void write(plist_t dictionary, const TimedStart& start) {
  plist_dict_remove_item(dictionary, "StartInterval");
  plist_dict_remove_item(dictionary, "StartCalendarInterval");
  if (start.interval)
    plist_dict_set_item(dictionary, "StartInterval",
                        plist_new_uint(static_cast<uint64_t>(*start.interval)));
  if (start.calendar.size() == 1) {
    plist_dict_set_item(dictionary, "StartCalendarInterval", entryNode(start.calendar.front()));
  } else if (!start.calendar.empty()) {
    plist_t array = plist_new_array();
    for (const CalendarEntry& entry : start.calendar)
      plist_array_append_item(array, entryNode(entry));
    plist_dict_set_item(dictionary, "StartCalendarInterval", array);
  }
}

}  // namespace morvane::TimedStarts
