#include "instances.h"

#include "entry.h"

namespace morvane {

std::vector<platform::RunningApplication> menuBarInstances(const std::string& identifier) {
  std::vector<platform::RunningApplication> instances;
  for (platform::RunningApplication& running : platform::runningApplications(identifier)) {
    if (running.user != platform::realUserId())
      continue;
    const std::vector<std::string> arguments = platform::processArguments(running.pid);
    // A process that ended meanwhile has no arguments left to read.
    if (!arguments.empty() && chooseMode(arguments) == Mode::menuBarApp)
      instances.push_back(std::move(running));
  }
  return instances;
}

}  // namespace morvane
