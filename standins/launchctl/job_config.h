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
  std::string workingDirectory;                    ///< Empty: the supervisor's ("/").
  std::string standardOutPath;                     ///< Empty: /dev/null.
  std::string standardErrorPath;                   ///< Empty: /dev/null.
  bool runAtLoad = false;
  bool keepAlive = false;            ///< Restart whenever it exits (plain boolean form only).
  bool abandonProcessGroup = false;  ///< Leave the rest of its process group alone on exit.
  unsigned exitTimeout = 5;          ///< Seconds between SIGTERM and SIGKILL on bootout.
};

/// Parses a job property list (XML or binary); nullopt when it is not a usable job.
std::optional<JobConfig> parseJobConfig(std::string_view data);

/// Reads a whole file into `out`; returns 0 or the errno of the failure.
int readWholeFile(const std::string& path, std::string& out);

}  // namespace launchctl
