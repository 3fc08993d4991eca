#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "run_history.h"

namespace morvane {

/// Decides which failing runs get a notice: each failing run once, and an agent that fails
/// over and over (a keep-alive job restarting) at most once a minute.
class FailureNotices {
 public:
  /// The least time between two notices for one agent, in microseconds.
  static constexpr int64_t kQuietTime = 60'000'000;

  /// Takes the runs now recorded for `label`, oldest first, and returns the failing run that
  /// ended since the runs last taken for it and gets a notice: the latest, unless the last notice
  /// for the agent came less than a minute before its end. With `baseline`, only notes where the
  /// agent stands (its runs ended before anyone watched) and returns nothing.
  std::optional<Run> take(const std::string& label, const Runs& runs, bool baseline = false);

 private:
  struct Seen {
    std::optional<int64_t> lastEnd;
    std::optional<int64_t> lastNotice;
  };
  std::map<std::string, Seen> seen_;
};

}  // namespace morvane
