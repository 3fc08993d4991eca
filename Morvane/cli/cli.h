#pragma once

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "new_agent_request.h"
#include "usage_error.h"

namespace morvane::CLI {

// Every mode writes its results to `out` and says on `err` what kept it from knowing something:
// settings it could not read, a `launchctl list` that failed, an agent folder it could not list.
// Text that comes from agents, their files or launchctl is written in the form
// visibleControlCharacters() gives, except inside JSON, which has escaping of its own.

/// Prints the user's agents as a table followed by the loaded count; 0, or 1 when the loaded
/// state or the agents could not be known (the table is printed all the same).
int32_t list(std::ostream& out, std::ostream& err = std::cerr);

/// Drives a throw-away agent through read, load, unload, disable and load-while-disabled;
/// 0 when every step passed, else 1. SIGINT, SIGTERM, SIGHUP or a closed output stop it at the
/// next step; it cleans up and gives 128 + the signal's number (SIGPIPE for the output).
int32_t selfTest(std::ostream& out, std::ostream& err = std::cerr);

/// The largest number of log lines `status` shows.
inline constexpr size_t kMaxLogLines = 1000;

/// Loads (or unloads) the agent `name` means and prints one line: the result, that it already
/// was so, or "✗ " and why not; 0 on success or when nothing had to change, else 1. Nothing is
/// changed when the agents' loaded state cannot be known.
int32_t setLoaded(std::ostream& out, const std::string& name, bool load,
                  std::ostream& err = std::cerr);

/// The line that reports a load (or unload) that worked: "com.example.sync loaded".
std::string changedText(const std::string& name, bool load);

/// Writes the property list of a new agent into ~/Library/LaunchAgents (never over a file) and
/// loads it; prints the file's path and the load's result line. 0 when both worked; 1 with one
/// line on `err` and nothing written when the request is refused, or 1 when loading failed.
int32_t newAgent(std::ostream& out, std::ostream& err, const NewAgentRequest& request);

/// Sets the timed start of the agent `name` means to what `options` ask, keeping the rest of
/// its property list, and reloads it when it is loaded; prints one line saying so. 1 with one
/// line on `err` and nothing written when the options are refused, no single agent answers to
/// the name or its loaded state cannot be known; 1 too when writing or reloading failed.
int32_t setSchedule(std::ostream& out, std::ostream& err, const std::string& name,
                    const ScheduleOptions& options);

/// Prints everything known about the agent `name` means, one fact per line, with the last
/// `lines` lines of each of its logs; 1 when no single agent answers to the name or its state
/// cannot be known.
int32_t status(std::ostream& out, const std::string& name, size_t lines,
               std::ostream& err = std::cerr);

/// Prints the agents as one JSON array; 0, or 1 as for list().
int32_t listJson(std::ostream& out, std::ostream& err = std::cerr);

/// Prints the status of the agent `name` means as one JSON object; 1 when no single agent
/// answers to the name or its state cannot be known.
int32_t statusJson(std::ostream& out, const std::string& name, std::ostream& err = std::cerr);

/// Checks the agent files `names` mean (all of them when there are none): each agent's name,
/// then one line per problem, then the count of errors and notes. 0 when no agent has an
/// error and every name was found, else 1.
int32_t check(std::ostream& out, const std::vector<std::string>& names,
              std::ostream& err = std::cerr);

/// check() as one JSON array, an object per agent with its problems; exits as check() does.
int32_t checkJson(std::ostream& out, const std::vector<std::string>& names,
                  std::ostream& err = std::cerr);

/// Prints the options, one line each; always 0.
int32_t help(std::ostream& out, std::ostream& err = std::cerr);

/// Prints the bundle's version; always 0.
int32_t version(std::ostream& out);

/// Prints what is wrong with the command line in one line; always 1.
int32_t usageError(std::ostream& out, const UsageError& error, std::ostream& err = std::cerr);

/// Updates the running bundle from the update server: reports the current and the newest
/// version, then (unless `checkOnly`) downloads and verifies the release, starts the installer
/// and asks this bundle's running instances to quit. 0 on success or when up to date, else 1.
int32_t update(bool checkOnly, std::ostream& out);

}  // namespace morvane::CLI
