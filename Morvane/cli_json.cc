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

/// UTF-8 with control characters escaped; bytes that are no UTF-8 become U+FFFD rather than
/// failing the output. `indent` < 0 writes everything on one line.
std::string text(const Json& json, int indent) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

int32_t listJson(std::ostream& out) {
  SettingsStore store(Paths::defaultPaths());
  Language::apply(store.value().language);

  Agents::ScannedAgents scan = Agents::scanWithExitStatuses(Agents::defaultDirectory());
  // One agent per line, so that line tools work on the array too.
  std::string array = "[";
  for (const Agent& agent : scan.agents) {
    array += array.size() == 1 ? "\n  " : ",\n  ";
    array += text(agentObject(agent, lastExitStatus(scan, agent),
                              friendlyName(agent.label, store.value().friendlyNames)),
                  -1);
  }
  array += scan.agents.empty() ? "]\n" : "\n]\n";
  out << array << std::flush;
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
  out << text(object, 2) << "\n" << std::flush;
  return 0;
}

}  // namespace morvane::CLI
