#pragma once

#include <expected>
#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "agent.h"
#include "failure.h"
#include "shell.h"

namespace morvane::Agents {

/// Labels listed by `launchctl list`, each with its process id when it runs.
using LoadedJobs = std::map<std::string, std::optional<int64_t>>;

/// The user's own agents: ~/Library/LaunchAgents.
std::filesystem::path defaultDirectory();

/// The user's launchd domain, "gui/<uid>".
std::string guiDomain();

/// One service in the user's domain, "gui/<uid>/<label>".
std::string serviceTarget(const std::string& label);

/// What launchd says of the user's agents: the two launchctl runs a scan reads, under way.
class StateQuery {
 public:
  /// What a query asks: both runs, or only the loaded jobs (its disabled labels are then none).
  enum class Asks : uint8_t { everything, loadedOnly };

  /// Starts `launchctl list` and, unless only the loaded jobs are asked for, `launchctl
  /// print-disabled` beside it.
  explicit StateQuery(Asks asks = Asks::everything);

  /// Waits for `launchctl list` and gives what it printed.
  const std::string& listing();

  /// Why the loaded state is unknown: `launchctl list` failed or did not answer in time. Absent
  /// when it answered.
  std::optional<Failure> listingProblem();

  /// Waits for the runs; a run that failed gives empty state.
  LoadedJobs loadedJobs();
  std::set<std::string> disabledLabels();

 private:
  std::future<ShellResult> listing_;
  ShellResult listed_;
  std::future<std::set<std::string>> disabled_;
};

/// The time limit of each `launchctl list` and `launchctl print-disabled` run, in seconds.
inline constexpr double kQueryTimeout = 20;

/// What a `launchctl list` run that did not succeed leaves unknown, in the current language:
/// launchctl's reason, or that it did not answer within `timeout` seconds.
std::string listFailureReason(const ShellResult& run, double timeout);

/// Every ".plist" in `directory` with its launchd state, in display order. Never fails:
/// problems give fewer agents or default state.
std::vector<Agent> scan(const std::filesystem::path& directory);

/// scan() with the launchd state of a query started earlier, so that the runs overlap with
/// whatever the caller did meanwhile. `problem`, when given, learns what could not be known
/// (see ScannedAgents).
std::vector<Agent> scan(const std::filesystem::path& directory, StateQuery query,
                        std::optional<Failure>* problem = nullptr);

/// Reads the table `launchctl list` prints.
LoadedJobs parseList(std::string_view text);

/// The last exit status `launchctl list` shows for each listed label; absent when the status
/// column holds no number.
using ExitStatuses = std::map<std::string, std::optional<int64_t>>;

/// Reads the status column of the table `launchctl list` prints: a job's last exit code, or
/// minus the number of the signal that ended it.
ExitStatuses parseExitStatuses(std::string_view text);

/// Reads the disabled labels from what `launchctl print-disabled` prints.
std::set<std::string> parseDisabled(std::string_view text);

/// A scan with what scan() leaves out: the last exit statuses read from the same `launchctl
/// list` run, and why the agents or their loaded state could not be known.
struct ScannedAgents {
  std::vector<Agent> agents;
  ExitStatuses lastExitStatuses;
  /// Set when `launchctl list` failed (the agents then show as not loaded, which may be untrue)
  /// or the directory is there but cannot be listed (no agents, which may be untrue). A missing
  /// directory is no problem: it holds no agents.
  std::optional<Failure> problem;
};

/// Like scan(), and keeps what the agent records leave out.
ScannedAgents scanWithExitStatuses(const std::filesystem::path& directory,
                                   StateQuery query = StateQuery());

/// scanWithExitStatuses() that reads only the files changed since the last such scan: the
/// labels of the others come from `labelCache`, where each file's label is kept with its
/// identity (rewritten when a file was read).
ScannedAgents scanRemembering(const std::filesystem::path& directory, StateQuery query,
                              const std::filesystem::path& labelCache);

/// The ".plist" files in `directory` with their labels, in listing order, launchd not asked: a
/// file is read only when it changed since its label was kept in `labelCache` (rewritten then).
/// The errno when the directory cannot be opened.
std::expected<std::vector<Agent>, int> rememberedAgents(const std::filesystem::path& directory,
                                                        const std::filesystem::path& labelCache);

/// Why `directory` could not be listed (`error` is the errno): absent for 0 and for a missing
/// directory, which simply holds no agents.
std::optional<Failure> listingFailure(const std::filesystem::path& directory, int error);

/// Gives the agents the loaded state and disabled marks `query` learnt from launchd.
void withState(std::vector<Agent>& agents, StateQuery& query);

/// The "Label" of a property list (XML or binary), else the file name without its extension.
std::string label(const std::filesystem::path& plist);

/// label() for a file a listing of the open directory `directory` gave; with `listedAsRegular`
/// the listing said it is a regular file, which saves the reading some checks.
std::string labelOfListed(int directory, const Agent& listed, bool listedAsRegular);

/// Loaded agents first, then by lower-cased label; stable.
std::vector<Agent> sorted(std::vector<Agent> agents);

/// The launchctl argument lists that load (enabling first when disabled) or unload an agent.
std::vector<std::vector<std::string>> commands(const Agent& agent, bool load);

/// The time limit of each load or unload command, in seconds.
inline constexpr double kCommandTimeout = 30;

/// Loads or unloads an agent and waits until `launchctl list` confirms the change; each
/// command may take `commandTimeout` seconds.
Outcome setLoaded(const Agent& agent, bool load, double commandTimeout = kCommandTimeout);

/// How changeLoaded() ended.
struct Change {
  enum class Ended : uint8_t {
    made,          ///< launchctl list confirms the change.
    alreadySo,     ///< The agent was loaded (or not) already; nothing was changed.
    stateUnknown,  ///< launchctl list failed where it was to tell whether the change is needed.
    failed,        ///< The change was refused or not confirmed.
  };
  Ended ended = Ended::made;
  std::optional<Failure> failure;  ///< Why, for stateUnknown and failed.
  bool disabled = false;           ///< A load found the label disabled (and enabled it first).
};

/// Loads or unloads an agent with only the launchctl runs the change needs: for a load the
/// disabled labels, `bootstrap` and one confirming list; for an unload `bootout` and the list.
/// Whether the agent was in that state already is asked only when the command is refused (or,
/// for a disabled label, before it is enabled), so nothing is changed on a guess.
Change changeLoaded(const Agent& agent, bool load, double commandTimeout = kCommandTimeout);

/// Loads an agent whose disabled state was not asked for (a new one): bootstrap at once, and
/// only when that is refused ask whether the label is disabled, to enable it and try again. The
/// result is setLoaded()'s.
Outcome loadUnasked(const Agent& agent, double commandTimeout = kCommandTimeout);

}  // namespace morvane::Agents
