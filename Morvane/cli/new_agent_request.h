#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// "--every <seconds>", "--at HH:MM", "--on <days>", "--day D" and "--none", as typed; an
/// option given without its operand has an empty one, for the check to refuse.
struct ScheduleOptions {
  std::optional<std::string> every{};
  std::optional<std::string> at{};
  std::optional<std::string> on{};
  std::optional<std::string> day{};
  bool none = false;
};

/// "--new <label> [--at-load] [--keep-alive] [--every <seconds> | --at HH:MM [--on <days> |
/// --day D]] [--log <file>] -- <program> [<argument>…]", as typed.
struct NewAgentRequest {
  std::string label;
  bool atLoad = false;
  bool keepAlive = false;
  /// When it is started by the clock, unchecked.
  ScheduleOptions schedule;
  std::optional<std::string> log;
  /// The program and its arguments: everything after "--".
  std::vector<std::string> command;
};

}  // namespace morvane
