#include "schedule_options.h"

#include "language.h"
#include "new_agent.h"
#include "unicode_text.h"

namespace morvane::CLI {
namespace {

std::string cannotCombine(const std::string& option, const std::string& others) {
  return L([&] { return option + " 不能与 " + others + " 同用"; },
           [&] { return option + " cannot be combined with " + others; });
}

/// The calendar of "--at" with "--on" or "--day".
std::expected<std::vector<CalendarEntry>, std::string> calendar(const ScheduleOptions& options) {
  auto time = TimedStarts::timeOfDay(*options.at);
  if (!time)
    return std::unexpected(time.error());
  CalendarChoice choice{time->first, time->second, {}, std::nullopt};
  if (options.on) {
    auto days = TimedStarts::weekdays(*options.on);
    if (!days)
      return std::unexpected(visibleControlCharacters(days.error()));
    choice.weekdays = *days;
  }
  if (options.day) {
    auto day = TimedStarts::dayOfMonth(*options.day);
    if (!day)
      return std::unexpected(day.error());
    choice.day = *day;
  }
  return TimedStarts::entries(choice);
}

}  // namespace

std::expected<TimedStart, std::string> timedStart(const ScheduleOptions& options) {
  if (options.none && (options.every || options.at || options.on || options.day))
    return std::unexpected(
        cannotCombine("--none", L("--at、--on、--day 或 --every", "--at, --on, --day or --every")));
  if (options.at && options.every)
    return std::unexpected(cannotCombine("--at", "--every"));
  if (options.on && options.day)
    return std::unexpected(cannotCombine("--on", "--day"));
  if ((options.on || options.day) && !options.at)
    return std::unexpected(
        L([&] { return std::string(options.on ? "--on" : "--day") + " 需要与 --at 同用"; },
          [&] { return std::string(options.on ? "--on" : "--day") + " needs --at"; }));
  TimedStart start;
  if (options.every) {
    std::expected<int64_t, NewAgents::Problem> seconds = NewAgents::interval(*options.every, 1);
    if (!seconds)
      return std::unexpected(seconds.error().text);
    start.interval = *seconds;
  }
  if (options.at) {
    auto entries = calendar(options);
    if (!entries)
      return std::unexpected(entries.error());
    start.calendar = std::move(*entries);
  }
  return start;
}

}  // namespace morvane::CLI
