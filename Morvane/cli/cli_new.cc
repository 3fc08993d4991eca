#include <system_error>

#include "agents.h"
#include "cli.h"
#include "display_name.h"
#include "failure_line.h"
#include "language.h"
#include "mode_settings.h"
#include "new_agent.h"
#include "schedule_options.h"
#include "unicode_text.h"

namespace morvane::CLI {
namespace {

/// The agent a request asks for, its paths made absolute from `here`; a problem when its
/// schedule options are refused.
std::expected<NewAgent, NewAgents::Problem> requestedAgent(const NewAgentRequest& request,
                                                           const std::filesystem::path& here) {
  NewAgent agent;
  agent.label = request.label;
  agent.program = NewAgents::resolvedProgram(request.command.front(), here);
  agent.arguments.assign(std::next(request.command.begin()), request.command.end());
  agent.runAtLoad = request.atLoad;
  agent.keepAlive = request.keepAlive;
  std::expected<TimedStart, std::string> start = timedStart(request.schedule);
  if (!start)
    return std::unexpected(NewAgents::Problem{NewAgents::Field::interval, start.error()});
  agent.startInterval = start->interval;
  agent.calendar = std::move(start->calendar);
  if (request.log)
    agent.log = (here / *request.log).lexically_normal().string();
  return agent;
}

}  // namespace

int32_t newAgent(std::ostream& out, std::ostream& err, const NewAgentRequest& request) {
  SettingsStore store = modeSettings(err);

  std::error_code error;
  std::filesystem::path here = std::filesystem::current_path(error);
  if (error)
    here = "/";
  std::expected<NewAgent, NewAgents::Problem> agent = requestedAgent(request, here);
  Result<Agent> created =
      agent ? NewAgents::create(*agent, Agents::defaultDirectory()) : fail(agent.error().text);
  if (!created)
    return printFailure(err, created.error());
  out << visibleControlCharacters(created->path) << "\n" << std::flush;
  if (Outcome loaded = Agents::loadUnasked(*created); !loaded)
    return printFailure(out, loaded.error());
  out << visibleControlCharacters(
             changedText(displayName(created->label, store.value().friendlyNames), true))
      << "\n"
      << std::flush;
  return 0;
}

}  // namespace morvane::CLI
