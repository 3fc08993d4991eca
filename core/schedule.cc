#include "schedule.h"

#include "property_list_file.h"

namespace morvane {
namespace {

/// An integer value as written (the parser keeps integers unsigned); absent for other types.
std::optional<int64_t> integer(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_UINT)
    return std::nullopt;
  uint64_t value = 0;
  plist_get_uint_val(node, &value);
  return static_cast<int64_t>(value);
}

bool boolean(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_BOOLEAN)
    return false;
  uint8_t value = 0;
  plist_get_bool_val(node, &value);
  return value != 0;
}

/// One calendar dictionary; absent when a field is of the wrong type or out of range.
std::optional<CalendarEntry> calendarEntry(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_DICT)
    return std::nullopt;
  CalendarEntry entry;
  for (const CalendarField& field : kCalendarFields) {
    plist_t value = plist_dict_get_item(node, field.key);
    if (value == nullptr)
      continue;
    const std::optional<int64_t> number = integer(value);
    if (!number || *number < field.least || *number > field.most)
      return std::nullopt;
    entry.*field.field = static_cast<int>(*number);
  }
  if (entry.weekday == 7)
    entry.weekday = 0;
  return entry;
}

std::vector<CalendarEntry> calendar(plist_t node) {
  std::vector<CalendarEntry> entries;
  if (node == nullptr)
    return entries;
  if (plist_get_node_type(node) != PLIST_ARRAY) {
    if (std::optional<CalendarEntry> entry = calendarEntry(node))
      entries.push_back(*entry);
    return entries;
  }
  for (uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i) {
    if (std::optional<CalendarEntry> entry = calendarEntry(plist_array_get_item(node, i)))
      entries.push_back(*entry);
  }
  return entries;
}

}  // namespace

Schedule readSchedule(plist_t root) {
  Schedule schedule;
  if (root == nullptr || plist_get_node_type(root) != PLIST_DICT)
    return schedule;
  const std::optional<int64_t> interval = integer(plist_dict_get_item(root, "StartInterval"));
  if (interval && *interval > 0)
    schedule.startInterval = interval;
  schedule.calendar = calendar(plist_dict_get_item(root, "StartCalendarInterval"));
  schedule.runAtLoad = boolean(plist_dict_get_item(root, "RunAtLoad"));
  plist_t keepAlive = plist_dict_get_item(root, "KeepAlive");
  schedule.keepAlive =
      boolean(keepAlive) || (keepAlive != nullptr && plist_get_node_type(keepAlive) == PLIST_DICT);
  return schedule;
}

Result<Schedule> readScheduleFile(const std::filesystem::path& plist) {
  Result<PropertyListFile> read = readPropertyListDictionary(plist);
  if (!read)
    return std::unexpected(read.error());
  return readSchedule(read->root.get());
}

std::optional<std::time_t> nextRun(const Schedule& schedule, std::time_t now) {
  return nextCalendarStart(schedule.calendar, now);
}

}  // namespace morvane
