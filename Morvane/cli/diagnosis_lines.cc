#include "diagnosis_lines.h"

#include <algorithm>

namespace morvane::CLI {

void printProblems(std::ostream& out, const Diagnosis& diagnosis) {
  for (const AgentProblem& problem : diagnosis)
    out << (problem.severity == AgentProblem::error ? "  ✗ " : "  · ") << sentence(problem) << "\n";
  out << std::flush;
}

bool printLoadDiagnosis(std::ostream& out, const std::string& shownName, const Agent& agent,
                        const std::vector<Agent>& agents, bool loaded) {
  if (!loaded) {
    printProblems(out, diagnoseAgent(agent, agents, true));
    return false;
  }
  // The manager took it: only what makes its runs fail is worth a word, and the file alone
  // tells that.
  Diagnosis errors = diagnoseAgentFile(agent.path);
  std::erase_if(errors, [](const AgentProblem& p) { return p.severity != AgentProblem::error; });
  if (errors.empty())
    return false;
  out << loadedDespite(shownName, errors.front()) << "\n";
  printProblems(out, Diagnosis(errors.begin() + 1, errors.end()));
  return true;
}

}  // namespace morvane::CLI
