#include <nlohmann/json.hpp>

#include "agent_status.h"
#include "cli.h"
#include "language.h"
#include "paths.h"
#include "settings_store.h"

namespace morvane::CLI {
namespace {

// Keys keep the order they are written in, which is the documented one.
using Json = nlohmann::ordered_json;

Json orNull(const std::optional<int64_t>& number) {
  return number ? Json(*number) : Json(nullptr);
}

Json orNull(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json(nullptr);
}

/// The facts the listing and the status share.
Json agentObject(const Agent& agent, std::optional<int64_t> lastExitStatus,
                 const std::optional<std::string>& friendlyName) {
  return Json{{"label", agent.label},       {"file", agent.file},
              {"path", agent.path},         {"loaded", agent.loaded},
              {"pid", orNull(agent.pid)},   {"lastExitStatus", orNull(lastExitStatus)},
              {"disabled", agent.disabled}, {"friendlyName", orNull(friendlyName)}};
}

void addJob(Json& object, const Result<JobDescription>& job) {
  object["program"] = job ? orNull(job->program) : Json(nullptr);
  object["arguments"] = job ? Json(job->arguments) : Json::array();
  object["standardOutPath"] = job ? orNull(job->standardOutPath) : Json(nullptr);
  object["standardErrorPath"] = job ? orNull(job->standardErrorPath) : Json(nullptr);
}

/// Indented UTF-8; bytes that are no UTF-8 become U+FFFD rather than failing the output.
void print(std::ostream& out, const Json& json) {
  out << json.dump(2, ' ', false, Json::error_handler_t::replace) << "\n" << std::flush;
}

}  // namespace

int32_t listJson(std::ostream& out) {
  SettingsStore store(Paths::defaultPaths());
  Language::apply(store.value().language);

  Agents::ScannedAgents scan = Agents::scanWithExitStatuses(Agents::defaultDirectory());
  Json agents = Json::array();
  for (const Agent& agent : scan.agents)
    agents.push_back(agentObject(agent, lastExitStatus(scan, agent),
                                 friendlyName(agent.label, store.value().friendlyNames)));
  print(out, agents);
  return 0;
}

int32_t statusJson(std::ostream& out, const std::string& name) {
  SettingsStore store(Paths::defaultPaths());
  Language::apply(store.value().language);

  Result<AgentStatus> status = agentStatus(name, store.value().friendlyNames);
  if (!status) {
    out << "✗ " << status.error().text << "\n" << std::flush;
    return 1;
  }
  Json object = agentObject(status->agent, status->lastExitStatus, status->friendlyName);
  addJob(object, status->job);
  print(out, object);
  return 0;
}

}  // namespace morvane::CLI
