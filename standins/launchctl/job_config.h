#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar.h"

namespace launchctl {

/// When a job that has exited is started again: KeepAlive as a boolean (`always`) or as a
/// dictionary of conditions, any one of which that holds restarts it.
struct KeepAlive {
  bool always = false;
  /// SuccessfulExit: restart when "it exited with status 0" equals this.
  std::optional<bool> successfulExit;
  /// Crashed: restart when "a crash signal ended it" equals this.
  std::optional<bool> crashed;
};

/// A job as its property list describes it.
struct JobConfig {
  std::string label;
  std::string program;  ///< Executable path; empty: arguments[0] is searched on PATH.
  std::vector<std::string> arguments;              ///< argv for the program (never empty).
  std::map<std::string, std::string> environment;  ///< Added to the invoker's environment.
  std::string workingDirectory;                    ///< Empty: the root directory.
  std::string standardInPath;                      ///< Empty: /dev/null.
  std::string standardOutPath;                     ///< Empty: discarded (the journal on systemd).
  std::string standardErrorPath;                   ///< Empty: discarded (the journal on systemd).
  bool runAtLoad = false;
  KeepAlive keepAlive;
  unsigned throttleInterval = 10;  ///< Seconds from an exit to the KeepAlive restart (at least 1).
  unsigned startInterval = 0;      ///< Seconds between timed starts; 0: none.
  std::vector<CalendarEntry> calendar;  ///< StartCalendarInterval; empty: none.
  bool abandonProcessGroup = false;     ///< Leave the rest of its processes alone on exit.
  unsigned exitTimeout = 5;             ///< Seconds from SIGTERM to SIGKILL; 0: never SIGKILL.
  std::optional<int> nice;              ///< Scheduling priority, -20 to 19.
  std::optional<mode_t> umask;
};

/// Whether loading starts the job at once: RunAtLoad, KeepAlive true, or a SuccessfulExit
/// condition (which needs a first exit to judge).
bool startsAtLoad(const JobConfig& config);

/// Whether a job that ended with `status` (the exit code, or minus the signal that ended it) is
/// started again under `keepAlive`.
bool restartsAfter(const KeepAlive& keepAlive, int status);

/// Parses a job property list (XML or binary); nullopt when it is not a usable job. Keys this
/// program does not know are ignored; a known key of the wrong type or out of range makes the job
/// unusable.
std::optional<JobConfig> parseJobConfig(std::string_view data);

/// Reads a whole file into `out`; returns 0 or the errno of the failure.
int readWholeFile(const std::string& path, std::string& out);

}  // namespace launchctl
