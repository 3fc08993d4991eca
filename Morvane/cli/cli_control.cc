#include "agent_lookup.h"
#include "agents.h"
#include "cli.h"
#include "diagnosis_lines.h"
#include "display_name.h"
#include "failure_line.h"
#include "language.h"
#include "mode_settings.h"
#include "paths.h"
#include "unicode_text.h"

namespace morvane::CLI {
namespace {

std::string alreadyText(const std::string& name, bool load) {
  if (load)
    return L([&] { return "「" + name + "」已经是加载状态"; },
             [&] { return name + " is already loaded"; });
  return L([&] { return "「" + name + "」本来就没有加载"; },
           [&] { return name + " is not loaded"; });
}

}  // namespace

std::string changedText(const std::string& name, bool load) {
  if (load)
    return L([&] { return "「" + name + "」已加载"; }, [&] { return name + " loaded"; });
  return L([&] { return "「" + name + "」已卸载"; }, [&] { return name + " unloaded"; });
}

namespace {

/// The agents in the default directory with their labels, launchd not asked; a failure when the
/// directory is there but cannot be listed.
Result<std::vector<Agent>> agentFiles() {
  const std::filesystem::path directory = Agents::defaultDirectory();
  std::expected<std::vector<Agent>, int> agents =
      Agents::rememberedAgents(directory, Paths::defaultPaths().agentLabelsFile());
  if (agents)
    return std::move(*agents);
  if (std::optional<Failure> problem = Agents::listingFailure(directory, agents.error()))
    return std::unexpected(std::move(*problem));
  return std::vector<Agent>();
}

}  // namespace

int32_t setLoaded(std::ostream& out, const std::string& name, bool load, std::ostream& err) {
  SettingsStore store = modeSettings(err);

  Result<std::vector<Agent>> agents = agentFiles();
  if (!agents)
    return printFailure(err, agents.error());
  Result<Agent> agent = findAgent(*agents, name);
  if (!agent) {
    // A list that cannot be read is said first, as by every mode about one agent.
    if (std::optional<Failure> problem =
            Agents::StateQuery(Agents::StateQuery::Asks::loadedOnly).listingProblem())
      return printFailure(err, *problem);
    return printFailure(out, agent.error());
  }
  const std::string shown =
      visibleControlCharacters(displayName(agent->label, store.value().friendlyNames));
  const Agents::Change change = Agents::changeLoaded(*agent, load);
  agent->disabled = change.disabled;
  switch (change.ended) {
    case Agents::Change::Ended::alreadySo:
      out << alreadyText(shown, load) << "\n" << std::flush;
      return 0;
    case Agents::Change::Ended::stateUnknown:
      return printFailure(err, *change.failure);  // "not loaded" might be untrue: nothing changed
    case Agents::Change::Ended::failed:
      printFailure(out, *change.failure);
      if (load)
        printLoadDiagnosis(out, shown, *agent, *agents, false);
      return 1;
    case Agents::Change::Ended::made:
      break;
  }
  if (!load || !printLoadDiagnosis(out, shown, *agent, *agents, true))
    out << changedText(shown, load) << "\n" << std::flush;
  return 0;
}

}  // namespace morvane::CLI
