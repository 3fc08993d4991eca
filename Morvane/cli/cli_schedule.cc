#include "agent_lookup.h"
#include "agents.h"
#include "cli.h"
#include "display_name.h"
#include "failure_line.h"
#include "language.h"
#include "mode_settings.h"
#include "paths.h"
#include "schedule_change.h"
#include "schedule_options.h"
#include "unicode_text.h"

namespace morvane::CLI {

int32_t setSchedule(std::ostream& out, std::ostream& err, const std::string& name,
                    const ScheduleOptions& options) {
  SettingsStore store = modeSettings(err);

  if (!options.every && !options.at && !options.none && !options.on && !options.day)
    return printFailure(err, Failure{L("--schedule 需要 --at、--every 或 --none",
                                       "--schedule needs --at, --every or --none")});
  std::expected<TimedStart, std::string> start = timedStart(options);
  if (!start)
    return printFailure(err, Failure{start.error()});
  Agents::ScannedAgents scanned = Agents::scanRemembering(
      Agents::defaultDirectory(), Agents::StateQuery(Agents::StateQuery::Asks::loadedOnly),
      Paths::defaultPaths().agentLabelsFile());
  if (scanned.problem)
    return printFailure(err, *scanned.problem);
  Result<Agent> agent = findAgent(scanned.agents, name);
  if (!agent)
    return printFailure(err, agent.error());
  Result<bool> reloaded = Agents::changeSchedule(*agent, *start);
  if (!reloaded)
    return printFailure(err, reloaded.error());
  out << visibleControlCharacters(Agents::scheduleChangedText(
             displayName(agent->label, store.value().friendlyNames), *start, *reloaded))
      << "\n"
      << std::flush;
  return 0;
}

}  // namespace morvane::CLI
