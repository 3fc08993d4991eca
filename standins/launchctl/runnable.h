#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "job_config.h"

namespace launchctl {

/// The longest command line (or environment variable) a job may have once written into a unit
/// file: the line length systemd reads, so that both engines refuse the same jobs.
inline constexpr size_t kMaxCommandLine = 1'000'000;

/// Why the job cannot be run alike on both engines, as one line; nullopt when it can. Its
/// arguments and environment must be UTF-8 text (a unit file holds nothing else) and fit
/// kMaxCommandLine; its schedule must keep at most kMaxCalendarEntries different entries.
std::optional<std::string> whyNotRunnable(const JobConfig& config);

/// Writes `line` where the job logs (its error log, else its output log); on `fallback` when it
/// names neither or that cannot be opened.
void noteInJobLog(const JobConfig& config, const std::string& line, std::FILE* fallback);

}  // namespace launchctl
