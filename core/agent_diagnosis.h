#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "agent.h"

namespace morvane {

/// One thing wrong with an agent, or worth knowing about it, in the interface language.
struct AgentProblem {
  enum Severity : uint8_t {
    /// The agent cannot load or cannot run as written.
    error,
    /// Harmless, or a state rather than a fault: an unknown key, a disabled label.
    note,
  };
  Severity severity = error;
  /// A stable word for scripts: "missing-program", "near-key", ...
  std::string kind;
  /// What is found, as a clause that can follow "com.x loaded, but ": "its program /opt/x does
  /// not exist".
  std::string cause;
  /// What to do about it: "install it or correct the path".
  std::string fix;
  /// The cause starts with a name (a key, a file) whose case must stay as written.
  bool causeStartsWithName = false;
  /// The service manager takes the agent, and its runs then fail.
  bool failsAtStart = false;

  friend bool operator==(const AgentProblem&, const AgentProblem&) = default;
};

/// An agent's problems, errors first, each in the order it was found.
using Diagnosis = std::vector<AgentProblem>;

/// The problem as one sentence: "Its program /opt/x does not exist: install it or correct the
/// path."
std::string sentence(const AgentProblem& problem);

/// What `--load` and the menu say of an agent the service manager took despite `problem`:
/// "com.x loaded, but its program /opt/x does not exist: it will fail when it starts".
std::string loadedDespite(const std::string& name, const AgentProblem& problem);

/// What an agent's property list says of itself: whether it is a property list and a
/// dictionary, its label, its program, its keys, its log folders.
Diagnosis diagnoseAgentFile(const std::filesystem::path& plist);

/// Why an agent may not load or run: diagnoseAgentFile(), then what its surroundings add: other
/// files among `agents` that use its label, a disabled label, and (when `loading`) a label that
/// is loaded already.
Diagnosis diagnoseAgent(const Agent& agent, const std::vector<Agent>& agents, bool loading = false);

/// Diagnoses by agent file path.
using AgentDiagnoses = std::map<std::string, Diagnosis>;

/// The agents among `agents` whose files have an error, each with its problems (a disabled
/// label, which the menu shows anyway, left out).
AgentDiagnoses invalidAgents(const std::vector<Agent>& agents);

/// Whether any of the problems is an error.
bool hasError(const Diagnosis& diagnosis);

/// The number of problems of one severity.
size_t countOf(const Diagnosis& diagnosis, AgentProblem::Severity severity);

}  // namespace morvane
