#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "failure.h"

namespace morvane {

/// What an agent's property list says it runs and where its output goes.
struct JobDescription {
  /// "Program", else the first of "ProgramArguments"; absent when the list names neither.
  std::optional<std::string> program;
  /// "ProgramArguments" as written, the program's own name included; items that are not text
  /// are left out.
  std::vector<std::string> arguments;
  /// "StandardOutPath" and "StandardErrorPath" as written.
  std::optional<std::string> standardOutPath;
  std::optional<std::string> standardErrorPath;
};

/// Reads an agent's property list (XML or binary). Fails when the file cannot be read or holds
/// no property-list dictionary.
Result<JobDescription> readJobDescription(const std::filesystem::path& plist);

/// The log worth showing for a job: of its standard output and error logs, the one that exists
/// and was written last; absent when neither names an existing file.
std::optional<std::filesystem::path> newestLog(const JobDescription& job);

/// Where the service manager writes a log path given in a property list: a relative path is
/// taken from the root directory, where jobs start.
std::filesystem::path resolvedLogPath(const std::string& written);

}  // namespace morvane
