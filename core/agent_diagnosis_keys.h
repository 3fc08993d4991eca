#pragma once

#include <plist/plist.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_diagnosis.h"

// The parts of an agent's diagnosis that judge the keys of its property list.
namespace morvane::diagnosis {

/// Adds the problems of the keys of an agent's dictionary: known keys of the wrong type,
/// calendar values out of range, an interval of 0 or less, unknown keys (close to a known one
/// or not). Label, Program and ProgramArguments are left to the caller.
void checkKeys(plist_t dictionary, Diagnosis& found);

/// The one of `known` that `key` most likely misspells: the same but for case, or at most one
/// edit away (two for longer keys; a swap of neighbours is one). Absent when none is that close.
std::optional<std::string_view> nearestKey(std::string_view key,
                                           const std::vector<std::string_view>& known);

/// A value as the diagnosis names it: "the text "yes"", "the number 3", "a list", ...
std::string valueDescription(plist_t value);

/// A problem whose cause starts with a key's name.
AgentProblem keyProblem(AgentProblem::Severity severity, std::string kind, std::string cause,
                        std::string fix);

}  // namespace morvane::diagnosis
