#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "agents.h"
#include "calendar_schedule.h"
#include "failure.h"

namespace morvane {

/// A launch agent the user asks for: what goes into its property list.
struct NewAgent {
  std::string label;
  /// The program, as an absolute path.
  std::string program;
  /// The arguments after the program.
  std::vector<std::string> arguments;
  bool runAtLoad = false;
  bool keepAlive = false;
  /// StartInterval: run every so many seconds.
  std::optional<int64_t> startInterval;
  /// One file for standard output and standard error, as an absolute path.
  std::optional<std::string> log;
  /// StartCalendarInterval: run at these times.
  std::vector<CalendarEntry> calendar{};
};

namespace NewAgents {

/// The part of a new agent a problem concerns, in the order they are checked.
enum class Field : uint8_t { label, program, arguments, interval, calendar, log };

/// What is wrong with one field, in the interface language.
struct Problem {
  Field field;
  std::string text;
};

/// The labels already taken: those the folder's property lists declare (with a file that
/// declares each) and those the service manager has loaded.
struct TakenLabels {
  std::map<std::string, std::string> files;
  std::set<std::string> loaded;
};

/// The labels a scan found taken.
TakenLabels takenLabels(const Agents::ScannedAgents& scan);

/// The longest StartInterval written, in seconds.
inline constexpr int64_t kMaxInterval = INT32_MAX;

/// An interval typed as a whole number of `unit` seconds; a problem unless it is above 0 and at
/// most kMaxInterval seconds.
std::expected<int64_t, Problem> interval(std::string_view typed, int64_t unit);

/// The arguments typed on one line, split as a shell would (see splitShellWords).
std::expected<std::vector<std::string>, Problem> arguments(std::string_view typed);

/// The program a typed name means: a path with a "/" is made absolute from `base`; a bare name
/// is looked up in PATH. A name not found stays as typed, for the check to name it.
std::string resolvedProgram(std::string_view typed, const std::filesystem::path& base);

/// Where the agent's property list goes: `directory`/<label>.plist.
std::filesystem::path plistPath(const NewAgent& agent, const std::filesystem::path& directory);

/// "<path> already exists", in the interface language.
std::string alreadyExists(const std::filesystem::path& path);

/// Everything wrong with the agent, at most one problem per field, in field order: a label that
/// is empty, unusable as a file name or taken, a property list that exists already, a program
/// that is missing or not executable, an interval beside calendar times, a log whose folder is
/// missing. Looks at the file system.
std::vector<Problem> problems(const NewAgent& agent, const std::filesystem::path& directory,
                              const TakenLabels& taken);

/// The agent's property list, in the XML form.
std::string propertyList(const NewAgent& agent);

/// Checks the agent against a fresh scan of `directory`, then writes its property list there,
/// atomically and never over an existing file. Gives the new agent, not loaded and not marked
/// disabled (which is not asked: load it with Agents::loadUnasked()); fails
/// with the first problem, with the scan's when the taken labels cannot be known, or with why
/// the file could not be written.
Result<Agent> create(const NewAgent& agent, const std::filesystem::path& directory);

}  // namespace NewAgents
}  // namespace morvane
