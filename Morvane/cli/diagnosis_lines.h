#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "agent.h"
#include "agent_diagnosis.h"

namespace morvane::CLI {

/// Prints each problem on a line of its own, indented below the agent's name: "  ✗ " and the
/// sentence for an error, "  · " for a note.
void printProblems(std::ostream& out, const Diagnosis& diagnosis);

/// What a load adds to the service manager's word, on lines of their own: after a failed load,
/// why the agent may not load; after one that worked, the errors that will make it fail, led by
/// "com.x loaded, but …" in place of the plain result line. Gives whether it printed the
/// result line itself.
bool printLoadDiagnosis(std::ostream& out, const std::string& shownName, const Agent& agent,
                        const std::vector<Agent>& agents, bool loaded);

}  // namespace morvane::CLI
