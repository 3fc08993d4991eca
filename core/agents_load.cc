#include <chrono>
#include <thread>

#include "agents.h"
#include "language.h"
#include "platform.h"
#include "shell.h"

namespace morvane::Agents {
namespace {

constexpr double kCheckTimeout = 20;
constexpr int kChecks = 20;
constexpr auto kCheckInterval = std::chrono::milliseconds(250);

/// Runs the commands in order, stopping after the first that fails; gives the last run.
ShellResult runUntilFailure(const std::filesystem::path& launchctl,
                            const std::vector<std::vector<std::string>>& sequence,
                            double commandTimeout) {
  ShellResult last;
  for (const auto& arguments : sequence) {
    last = Shell::run(launchctl, arguments, commandTimeout);
    if (!last.ok())
      break;
  }
  return last;
}

/// Whether `launchctl list` shows the label loaded (or gone), checking up to kChecks times; a
/// failure when a check itself fails, since a list that cannot be read confirms nothing.
Result<bool> confirm(const std::filesystem::path& launchctl, const std::string& label, bool load) {
  for (int check = 0; check < kChecks; ++check) {
    ShellResult listed = Shell::run(launchctl, {"list"}, kCheckTimeout);
    if (!listed.ok())
      return fail(listFailureReason(listed, kCheckTimeout));
    if (parseList(listed.standardOutput).contains(label) == load)
      return true;
    std::this_thread::sleep_for(kCheckInterval);
  }
  return false;
}

std::string noReason() {
  return L("launchctl 没有给出原因。", "launchctl gave no reason.");
}

Failure loadFailure(const std::string& label, bool load, const std::string& reason) {
  if (load)
    return Failure{L([&] { return "「" + label + "」没有加载上：" + reason; },
                     [&] { return label + " did not load: " + reason; })};
  return Failure{L([&] { return "「" + label + "」没有卸载掉：" + reason; },
                   [&] { return label + " did not unload: " + reason; })};
}

/// Waits for `launchctl list` to confirm the change whose last command ran as `last`.
Outcome confirmed(const std::filesystem::path& launchctl, const Agent& agent, bool load,
                  const ShellResult& last) {
  Result<bool> confirmed = confirm(launchctl, agent.label, load);
  if (confirmed && *confirmed)
    return {};
  // The command's own complaint says most; a list that could not be read comes next.
  std::string reason = last.message();
  if (!confirmed && (last.ok() || reason.empty()))
    reason = confirmed.error().text;
  return std::unexpected(loadFailure(agent.label, load, reason.empty() ? noReason() : reason));
}

}  // namespace

std::vector<std::vector<std::string>> commands(const Agent& agent, bool load) {
  if (!load)
    return {{"bootout", serviceTarget(agent.label)}};
  std::vector<std::vector<std::string>> sequence;
  if (agent.disabled)
    sequence.push_back({"enable", serviceTarget(agent.label)});
  sequence.push_back({"bootstrap", guiDomain(), agent.path});
  return sequence;
}

Outcome setLoaded(const Agent& agent, bool load, double commandTimeout) {
  const std::filesystem::path launchctl = platform::toolPath(platform::Tool::launchctl);
  return confirmed(launchctl, agent, load,
                   runUntilFailure(launchctl, commands(agent, load), commandTimeout));
}

Outcome loadUnasked(const Agent& agent, double commandTimeout) {
  const std::filesystem::path launchctl = platform::toolPath(platform::Tool::launchctl);
  ShellResult bootstrap = Shell::run(launchctl, commands(agent, true).back(), commandTimeout);
  if (!bootstrap.ok()) {
    // Refused: a disabled label is the one refusal enabling mends.
    const ShellResult overrides =
        Shell::run(launchctl, {"print-disabled", guiDomain()}, kQueryTimeout);
    if (parseDisabled(overrides.standardOutput).contains(agent.label)) {
      Agent disabled = agent;
      disabled.disabled = true;
      return setLoaded(disabled, true, commandTimeout);
    }
  }
  return confirmed(launchctl, agent, true, bootstrap);
}

namespace {

/// What the last command's refusal means, told by `launchctl list`: the agent was in the asked
/// state already, or the change failed (confirmed() still gives the list its usual time).
Change afterRefusal(const std::filesystem::path& launchctl, const Agent& agent, bool load,
                    const ShellResult& refused) {
  StateQuery query(StateQuery::Asks::loadedOnly);
  if (std::optional<Failure> problem = query.listingProblem())
    return {Change::Ended::stateUnknown, std::move(problem)};
  if (query.loadedJobs().contains(agent.label) == load)
    return {Change::Ended::alreadySo, std::nullopt};
  Outcome outcome = confirmed(launchctl, agent, load, refused);
  if (!outcome)
    return {Change::Ended::failed, outcome.error()};
  return {};
}

Change fromOutcome(Outcome outcome) {
  if (!outcome)
    return {Change::Ended::failed, outcome.error()};
  return {};
}

}  // namespace

Change changeLoaded(const Agent& agent, bool load, double commandTimeout) {
  const std::filesystem::path launchctl = platform::toolPath(platform::Tool::launchctl);
  if (!load) {
    ShellResult bootout = Shell::run(launchctl, commands(agent, false).front(), commandTimeout);
    if (!bootout.ok())
      return afterRefusal(launchctl, agent, false, bootout);
    return fromOutcome(confirmed(launchctl, agent, false, bootout));
  }
  Agent asked = agent;
  asked.disabled =
      parseDisabled(
          Shell::run(launchctl, {"print-disabled", guiDomain()}, kQueryTimeout).standardOutput)
          .contains(agent.label);
  Change change;
  if (asked.disabled) {
    // Enabling is a change of its own: made only for an agent that is not loaded.
    StateQuery query(StateQuery::Asks::loadedOnly);
    if (std::optional<Failure> problem = query.listingProblem())
      change = {Change::Ended::stateUnknown, std::move(problem)};
    else if (query.loadedJobs().contains(agent.label))
      change = {Change::Ended::alreadySo, std::nullopt};
    else
      change = fromOutcome(setLoaded(asked, true, commandTimeout));
  } else {
    ShellResult bootstrap = Shell::run(launchctl, commands(asked, true).back(), commandTimeout);
    change = bootstrap.ok() ? fromOutcome(confirmed(launchctl, asked, true, bootstrap))
                            : afterRefusal(launchctl, asked, true, bootstrap);
  }
  change.disabled = asked.disabled;
  return change;
}

}  // namespace morvane::Agents
