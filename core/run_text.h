#pragma once

#include <ctime>
#include <string>

#include "run_history.h"

// What a run of a job says, in the interface language.
namespace morvane::RunText {

/// When it started, "2026-12-09 15:01:02" in local time; "-" when unknown.
std::string started(const Run& run);

/// How long it ran: "0.4 s", "12 s", "3 min 5 s", "2 h 10 min", "3 d 4 h"; for a run under way,
/// how long it has run by `now` (microseconds since the epoch); "-" when its start is unknown.
std::string duration(const Run& run, int64_t now);

/// How it ended: "exited 3", "killed by SIGTERM", "running"; with ", at unload" when its unload
/// ended it.
std::string result(const Run& run);

/// Why it started: "at load", "keep-alive restart", "interval", "calendar"; empty when unknown.
std::string cause(const Run& run);

/// The three, and the cause when known, on one line for a report or a menu.
std::string line(const Run& run, int64_t now);

/// The heading of the runs in a report or a menu: "Recent runs".
std::string heading();

/// What shows in place of the runs when there are none: "no runs yet".
std::string none();

/// What shows in place of the runs while they are read: "Loading…".
std::string loading();

}  // namespace morvane::RunText
