#include "schedule_files.h"

#include <algorithm>

#include "schedule_text.h"

namespace morvane {

std::map<std::string, Schedule> ScheduleFiles::read(const std::vector<Agent>& agents) {
  std::map<std::string, Schedule> schedules;
  std::map<std::string, Known> seen;
  for (const Agent& agent : agents) {
    if (schedules.contains(agent.label))
      continue;
    std::error_code error;
    const auto changed = std::filesystem::last_write_time(agent.path, error);
    const std::uintmax_t size = error ? 0 : std::filesystem::file_size(agent.path, error);
    auto known = files_.find(agent.path);
    if (error || known == files_.end() || known->second.changed != changed ||
        known->second.size != size) {
      Known fresh{changed, size, readScheduleFile(agent.path).value_or(Schedule{})};
      known = files_.insert_or_assign(agent.path, std::move(fresh)).first;
    }
    schedules[agent.label] = known->second.schedule;
    seen.insert(*known);
  }
  // Files gone from the folder are forgotten.
  files_ = std::move(seen);
  return schedules;
}

NextRuns::Known& NextRuns::known(const std::string& label, const Schedule& schedule,
                                 std::time_t now) {
  Known& known = known_[label];
  // No start lies between `from` and the next one, so it stays the next until it has come.
  const bool stillNext = known.calendar == schedule.calendar && known.from <= now &&
                         (!known.next || now < *known.next);
  if (!stillNext)
    known = Known{schedule.calendar, now, nextRun(schedule, now), {}, Language::english, 0};
  return known;
}

const std::string* NextRuns::shortText(const std::string& label, const Schedule& schedule,
                                       std::time_t now) {
  Known& known = this->known(label, schedule, now);
  if (!known.next)
    return nullptr;
  const Language::Value language = Language::current();
  if (now >= known.textUntil || language != known.language) {
    // The words name the day unless it is today, so they hold until midnight.
    std::tm midnight{};
    localtime_r(&now, &midnight);
    midnight.tm_mday += 1;
    midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
    midnight.tm_isdst = -1;
    known.text = ScheduleText::nextRunShort(*known.next, now);
    known.language = language;
    known.textUntil = std::min(*known.next, std::mktime(&midnight));
  }
  return &known.text;
}

}  // namespace morvane
