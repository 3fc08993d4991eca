// --check: what is wrong with the agent files, each problem with its fix.

#include <nlohmann/json.hpp>

#include "agent_diagnosis.h"
#include "agent_lookup.h"
#include "agents.h"
#include "cli.h"
#include "diagnosis_lines.h"
#include "display_name.h"
#include "failure_line.h"
#include "language.h"
#include "mode_settings.h"
#include "unicode_text.h"

namespace morvane::CLI {
namespace {

/// The agents checked, each with its diagnosis, and whether every name was found.
struct Checked {
  std::vector<std::pair<Agent, Diagnosis>> agents;
  bool allFound = true;
  std::optional<Failure> problem;
};

/// Diagnoses the agents `names` mean, or all; a name no single agent answers to is reported on
/// `out` as a failure line.
Checked checkAgents(std::ostream& out, const std::vector<std::string>& names) {
  Agents::ScannedAgents scanned = Agents::scanWithExitStatuses(Agents::defaultDirectory());
  Checked checked;
  checked.problem = scanned.problem;
  std::vector<Agent> chosen;
  if (names.empty())
    chosen = scanned.agents;
  for (const std::string& name : names) {
    Result<Agent> agent = findAgent(scanned.agents, name);
    if (agent) {
      chosen.push_back(*agent);
    } else {
      printFailure(out, agent.error());
      checked.allFound = false;
    }
  }
  for (Agent& agent : chosen) {
    Diagnosis diagnosis = diagnoseAgent(agent, scanned.agents);
    checked.agents.emplace_back(std::move(agent), std::move(diagnosis));
  }
  return checked;
}

std::string counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

/// "3 agents checked: 1 error, 2 notes".
std::string closingCount(size_t agents, size_t errors, size_t notes) {
  return L(
      [&] {
        return "检查了 " + std::to_string(agents) + " 个启动项：" + std::to_string(errors) +
               " 个错误，" + std::to_string(notes) + " 个提示";
      },
      [&] {
        return counted(agents, "agent", "agents") +
               " checked: " + counted(errors, "error", "errors") + ", " +
               counted(notes, "note", "notes");
      });
}

int32_t exitStatus(const Checked& checked, std::ostream& err) {
  const bool anyError = std::any_of(checked.agents.begin(), checked.agents.end(),
                                    [](const auto& entry) { return hasError(entry.second); });
  const int32_t unknown = reportProblem(err, checked.problem);
  return anyError || !checked.allFound || unknown != 0 ? 1 : 0;
}

}  // namespace

int32_t check(std::ostream& out, const std::vector<std::string>& names, std::ostream& err) {
  SettingsStore store = modeSettings(err);

  Checked checked = checkAgents(out, names);
  size_t errors = 0, notes = 0;
  for (const auto& [agent, diagnosis] : checked.agents) {
    out << visibleControlCharacters(displayName(agent.label, store.value().friendlyNames));
    if (agent.file != agent.label + ".plist")
      out << " (" << visibleControlCharacters(agent.file) << ")";
    out << "\n";
    if (diagnosis.empty())
      out << "  ✓ " << L("没有发现问题", "no problems") << "\n";
    printProblems(out, diagnosis);
    errors += countOf(diagnosis, AgentProblem::error);
    notes += countOf(diagnosis, AgentProblem::note);
  }
  out << closingCount(checked.agents.size(), errors, notes) << "\n" << std::flush;
  return exitStatus(checked, err);
}

int32_t checkJson(std::ostream& out, const std::vector<std::string>& names, std::ostream& err) {
  SettingsStore store = modeSettings(err);

  Checked checked = checkAgents(err, names);
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const auto& [agent, diagnosis] : checked.agents) {
    nlohmann::ordered_json problems = nlohmann::ordered_json::array();
    for (const AgentProblem& problem : diagnosis)
      problems.push_back({{"severity", problem.severity == AgentProblem::error ? "error" : "note"},
                          {"kind", problem.kind},
                          {"text", sentence(problem)}});
    array.push_back({{"label", agent.label},
                     {"file", agent.file},
                     {"path", agent.path},
                     {"valid", !hasError(diagnosis)},
                     {"problems", std::move(problems)}});
  }
  out << array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n"
      << std::flush;
  return exitStatus(checked, err);
}

}  // namespace morvane::CLI
