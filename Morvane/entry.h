#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <vector>

#include "new_agent_request.h"
#include "usage_error.h"

namespace morvane {

/// What a command line asks the program to do.
enum class Mode {
  list,
  selfTest,
  update,
  checkForUpdate,
  load,
  unload,
  status,
  newAgent,
  schedule,
  check,
  help,
  version,
  menuBarApp
};

/// A mode with the operands of its options.
struct Invocation {
  Mode mode = Mode::menuBarApp;
  /// "--json": the listing or the status as JSON.
  bool json = false;
  /// The agent named after "--load", "--unload", "--status" or "--schedule".
  std::string agent;
  /// The agents named after "--check"; none: all of them.
  std::vector<std::string> agents;
  /// "--lines N": how many lines of each log the status shows.
  size_t lines = 10;
  /// "--new": the agent to make.
  NewAgentRequest newAgent;
  /// "--schedule": the agent's new timed start.
  ScheduleOptions schedule;
};

/// "--list" wins over "--selftest", which wins over "--update" (with "--check": only check);
/// then come "--load", "--unload", "--status", "--new", "--schedule", "--check" (without
/// "--update": check agent files), "--help" and "--version", in that order.
/// With none of them the menu-bar application starts. After "--new", a "--" ends the options:
/// what follows is the new agent's program and arguments, never an option.
Mode chooseMode(const std::vector<std::string>& arguments);

/// The chosen mode and its operands: the argument right after "--load", "--unload" or
/// "--status" or "--schedule" names the agent, and must not be one of the options; "--new"
/// takes its label, its own options and, after "--", the program with its arguments;
/// "--schedule" takes "--at", "--on", "--day" and "--every" with their operands, and "--none".
std::expected<Invocation, UsageError> parseInvocation(const std::vector<std::string>& arguments);

/// Puts the folder of the bundled tools first on this process's PATH, so that scripts it
/// starts (the update installer) find them by name.
void putHelpersFirstOnPath();

/// Blocks SIGTERM and SIGINT: they wait until the menu-bar application catches them.
void holdTerminationSignals();

/// Whether `mode` needs the GUI toolkit or the network: the update modes and the menu-bar
/// application. Those live in the application module, which the other modes never load.
bool isModuleMode(Mode mode);

/// Runs a module mode and gives the process's exit status.
using ModuleRunner = int (*)(Mode mode, int argc, char** argv);

/// Runs the chosen mode and gives the process's exit status; `runModule` runs the module modes.
int runEntry(int argc, char** argv, ModuleRunner runModule);

}  // namespace morvane
