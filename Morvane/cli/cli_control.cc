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

int32_t setLoaded(std::ostream& out, const std::string& name, bool load, std::ostream& err) {
  SettingsStore store = modeSettings(err);

  // Only a load needs the disabled labels (to enable first).
  Agents::ScannedAgents scanned =
      Agents::scanRemembering(Agents::defaultDirectory(),
                              Agents::StateQuery(load ? Agents::StateQuery::Asks::everything
                                                      : Agents::StateQuery::Asks::loadedOnly),
                              Paths::defaultPaths().agentLabelsFile());
  if (scanned.problem)
    return printFailure(err, *scanned.problem);  // "not loaded" might be untrue: change nothing
  Result<Agent> agent = findAgent(scanned.agents, name);
  if (!agent)
    return printFailure(out, agent.error());
  const std::string shown =
      visibleControlCharacters(displayName(agent->label, store.value().friendlyNames));
  if (agent->loaded == load) {
    out << alreadyText(shown, load) << "\n" << std::flush;
    return 0;
  }
  Outcome outcome = Agents::setLoaded(*agent, load);
  if (!outcome) {
    printFailure(out, outcome.error());
    if (load)
      printLoadDiagnosis(out, shown, *agent, scanned.agents, false);
    return 1;
  }
  if (!load || !printLoadDiagnosis(out, shown, *agent, scanned.agents, true))
    out << changedText(shown, load) << "\n" << std::flush;
  return 0;
}

}  // namespace morvane::CLI
