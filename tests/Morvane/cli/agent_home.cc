#include "agent_home.h"

#include <plist/plist.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "agents.h"
#include "platform.h"
#include "property_list.h"

namespace morvane::testing {

Printed printed(const std::function<int32_t(std::ostream&)>& mode) {
  return printed([&](std::ostream& out, std::ostream&) { return mode(out); });
}

Printed printed(const std::function<int32_t(std::ostream&, std::ostream&)>& mode) {
  std::ostringstream out, err;
  Printed result;
  result.status = mode(out, err);
  result.text = out.str();
  result.errors = err.str();
  return result;
}

void AgentHome::SetUp() {
  platform::overrideToolPath(platform::Tool::launchctl, LAUNCHCTL_STANDIN);
  std::filesystem::create_directories(agents());
}

void AgentHome::TearDown() {
  for (const auto& [label, pid] : Agents::parseList(launchctl({"list"}).standardOutput))
    launchctl({"bootout", Agents::serviceTarget(label)});
  platform::resetToolPaths();
}

std::filesystem::path AgentHome::writeAgent(const std::string& file, const std::string& label,
                                            const std::vector<std::string>& arguments,
                                            const std::map<std::string, std::string>& strings) {
  PlistPtr root(plist_new_dict());
  plist_dict_set_item(root.get(), "Label", plist_new_string(label.c_str()));
  plist_t list = plist_new_array();
  for (const std::string& argument : arguments)
    plist_array_append_item(list, plist_new_string(argument.c_str()));
  plist_dict_set_item(root.get(), "ProgramArguments", list);
  plist_dict_set_item(root.get(), "RunAtLoad", plist_new_bool(1));
  for (const auto& [key, value] : strings)
    plist_dict_set_item(root.get(), key.c_str(), plist_new_string(value.c_str()));
  writeFile(agents() / file, toXmlPropertyList(root.get()));
  return agents() / file;
}

void AgentHome::writeSettings(const std::string& json) {
  writeFile(home_ / "data/settings.json", json);
}

ShellResult AgentHome::launchctl(const std::vector<std::string>& arguments) {
  return Shell::run(LAUNCHCTL_STANDIN, arguments, 30);
}

std::optional<int64_t> AgentHome::pidOf(const std::string& label) {
  Agents::LoadedJobs jobs = Agents::parseList(launchctl({"list"}).standardOutput);
  auto job = jobs.find(label);
  return job != jobs.end() ? job->second : std::nullopt;
}

void AgentHome::waitForExit(const std::string& label, int64_t status) {
  for (int i = 0; i < 200; ++i) {
    std::string listing = launchctl({"list"}).standardOutput;
    Agents::LoadedJobs jobs = Agents::parseList(listing);
    Agents::ExitStatuses statuses = Agents::parseExitStatuses(listing);
    if (jobs.contains(label) && !jobs[label] && statuses[label] == status)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << label << " did not exit with " << status;
}

}  // namespace morvane::testing
