// A new agent's property list, and writing it into the agents' folder.

#include <cerrno>

#include "file_io.h"
#include "new_agent.h"
#include "property_list.h"
#include "timed_start.h"

namespace morvane::NewAgents {

std::string propertyList(const NewAgent& agent) {
  PlistPtr dictionary(plist_new_dict());
  plist_dict_set_item(dictionary.get(), "Label", plist_new_string(agent.label.c_str()));
  plist_t arguments = plist_new_array();
  plist_array_append_item(arguments, plist_new_string(agent.program.c_str()));
  for (const std::string& argument : agent.arguments)
    plist_array_append_item(arguments, plist_new_string(argument.c_str()));
  plist_dict_set_item(dictionary.get(), "ProgramArguments", arguments);
  if (agent.runAtLoad)
    plist_dict_set_item(dictionary.get(), "RunAtLoad", plist_new_bool(1));
  if (agent.keepAlive)
    plist_dict_set_item(dictionary.get(), "KeepAlive", plist_new_bool(1));
  TimedStarts::write(dictionary.get(), TimedStart{agent.startInterval, agent.calendar});
  if (agent.log) {
    plist_dict_set_item(dictionary.get(), "StandardOutPath", plist_new_string(agent.log->c_str()));
    plist_dict_set_item(dictionary.get(), "StandardErrorPath",
                        plist_new_string(agent.log->c_str()));
  }
  return toXmlPropertyList(dictionary.get());
}

Result<Agent> create(const NewAgent& agent, const std::filesystem::path& directory) {
  // The taken labels need the loaded jobs, not the disabled ones.
  const Agents::ScannedAgents scan = Agents::scanWithExitStatuses(
      directory, Agents::StateQuery(Agents::StateQuery::Asks::loadedOnly));
  // Without the loaded labels or the folder's, "not taken" might be untrue: nothing is written.
  if (scan.problem)
    return std::unexpected(*scan.problem);
  const std::vector<Problem> found = problems(agent, directory, takenLabels(scan));
  if (!found.empty())
    return fail(found.front().text);
  if (Outcome created = createDirectories(directory); !created)
    return std::unexpected(created.error());
  const std::filesystem::path path = plistPath(agent, directory);
  // launchd refuses a property list that others may write to.
  if (auto written = writeNewFileAtomically(path, propertyList(agent), 0644); !written) {
    if (written.error() == EEXIST)
      return fail(alreadyExists(path));
    return fail(path.string() + ": " + describeErrno(written.error()));
  }
  // Its label was not loaded a moment ago; whether it is disabled is left to loadUnasked().
  return Agent{path.filename().string(), path.string(), agent.label, false, std::nullopt, false};
}

}  // namespace morvane::NewAgents
