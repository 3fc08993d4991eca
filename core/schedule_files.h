#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "agent.h"
#include "language.h"
#include "schedule.h"

namespace morvane {

/// The schedules of agents' property lists, each file read again only when its size or time
/// of change is new. Not for use by two threads at once.
class ScheduleFiles {
 public:
  /// The schedule of each agent by label, the first agent of a label winning as in a scan;
  /// a file that cannot be read has an empty schedule.
  std::map<std::string, Schedule> read(const std::vector<Agent>& agents);

 private:
  struct Known {
    std::filesystem::file_time_type changed;
    std::uintmax_t size = 0;
    Schedule schedule;
  };
  std::map<std::string, Known> files_;
};

/// Next calendar starts, each computed once and kept until it has passed or the schedule
/// changed, with the words a menu row shows for it. Not for use by two threads at once.
class NextRuns {
 public:
  /// The next start of `schedule` after `now` (see nextRun) as a row shows it ("next 09:00", see
  /// ScheduleText::nextRunShort), made again only when the start, the day or the language changed;
  /// null when there is none. Valid until the next call for `label`.
  const std::string* shortText(const std::string& label, const Schedule& schedule, std::time_t now);

 private:
  struct Known {
    std::vector<CalendarEntry> calendar;
    std::time_t from = 0;
    std::optional<std::time_t> next;
    /// shortText's words, the language they are in, and the moment they stop being true
    /// (the start, or the next midnight, whichever comes first); 0 before they are made.
    std::string text;
    Language::Value language = Language::english;
    std::time_t textUntil = 0;
  };
  Known& known(const std::string& label, const Schedule& schedule, std::time_t now);
  std::unordered_map<std::string, Known> known_;
};

}  // namespace morvane
