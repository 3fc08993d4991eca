#pragma once

#include <string>
#include <vector>

#include "agent.h"
#include "failure.h"

namespace morvane {

/// The one agent a name given on the command line means: an agent whose label is the name, or
/// whose file is the name with or without ".plist".
///
/// Fails when no agent answers to the name (the text offers the closest labels) or when several
/// do (the text names their files, sorted, since a file name always picks one). The failure's
/// names are escaped for a terminal.
Result<Agent> findAgent(const std::vector<Agent>& agents, const std::string& name);

}  // namespace morvane
