#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launchctl {

/// A job as its property list describes it.
struct JobConfig {
  std::string label;
  std::string program;  ///< Executable path; empty: arguments[0] is searched on PATH.
  std::vector<std::string> arguments;              ///< argv for the program (never empty).
  std::map<std::string, std::string> environment;  ///< Added to the invoker's environment.
  std::string working_directory;                   ///< Empty: the supervisor's ("/").
  std::string stdout_path;                         ///< Empty: /dev/null.
  std::string stderr_path;                         ///< Empty: /dev/null.
  bool run_at_load = false;
  bool keep_alive = false;             ///< Restart whenever it exits (plain boolean form only).
  bool abandon_process_group = false;  ///< Leave the rest of its process group alone on exit.
  unsigned exit_timeout = 5;           ///< Seconds between SIGTERM and SIGKILL on bootout.
};

/// Parses a job property list (XML or binary); nullopt when it is not a usable job.
std::optional<JobConfig> ParseJobConfig(std::string_view data);

/// Reads a whole file into `out`; returns 0 or the errno of the failure.
int ReadWholeFile(const std::string& path, std::string& out);

}  // namespace launchctl
