#include <dirent.h>

#include "agents.h"
#include "platform.h"
#include "shell.h"

namespace morvane::Agents {
namespace {

constexpr double kQueryTimeout = 20;

/// The names in a directory, in the order the file system lists them; empty when unreadable.
std::vector<std::string> directoryNames(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  DIR* stream = ::opendir(directory.c_str());
  if (stream == nullptr)
    return names;
  while (const dirent* entry = ::readdir(stream)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..")
      names.emplace_back(name);
  }
  ::closedir(stream);
  return names;
}

}  // namespace

std::filesystem::path defaultDirectory() {
  return platform::homeDirectory() / "Library" / "LaunchAgents";
}

std::string guiDomain() {
  return "gui/" + std::to_string(platform::realUserId());
}

std::string serviceTarget(const std::string& label) {
  return guiDomain() + "/" + label;
}

namespace {

/// The scan itself; `listing` receives the `launchctl list` output the state was read from.
std::vector<Agent> scanKeepingListing(const std::filesystem::path& directory,
                                      std::string& listing) {
  const std::filesystem::path launchctl = platform::toolPath(platform::Tool::launchctl);
  listing = Shell::run(launchctl, {"list"}, kQueryTimeout).standardOutput;
  LoadedJobs jobs = parseList(listing);
  std::set<std::string> disabled = parseDisabled(
      Shell::run(launchctl, {"print-disabled", guiDomain()}, kQueryTimeout).standardOutput);

  std::vector<Agent> agents;
  for (const std::string& name : directoryNames(directory)) {
    if (!name.ends_with(".plist"))
      continue;
    const std::filesystem::path path = directory / name;
    Agent agent;
    agent.file = name;
    agent.path = path.string();
    agent.label = label(path);
    if (auto job = jobs.find(agent.label); job != jobs.end()) {
      agent.loaded = true;
      agent.pid = job->second;
    }
    agent.disabled = disabled.contains(agent.label);
    agents.push_back(std::move(agent));
  }
  return sorted(std::move(agents));
}

}  // namespace

std::vector<Agent> scan(const std::filesystem::path& directory) {
  std::string listing;
  return scanKeepingListing(directory, listing);
}

ScannedAgents scanWithExitStatuses(const std::filesystem::path& directory) {
  std::string listing;
  std::vector<Agent> agents = scanKeepingListing(directory, listing);
  return {std::move(agents), parseExitStatuses(listing)};
}

}  // namespace morvane::Agents
