#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvane {

/// "--new <label> [--at-load] [--keep-alive] [--every <seconds>] [--log <file>] -- <program>
/// [<argument>…]", as typed.
struct NewAgentRequest {
  std::string label;
  bool atLoad = false;
  bool keepAlive = false;
  /// The operand of "--every", unchecked.
  std::optional<std::string> every;
  std::optional<std::string> log;
  /// The program and its arguments: everything after "--".
  std::vector<std::string> command;
};

}  // namespace morvane
