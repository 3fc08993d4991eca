// launchctl: a per-user service manager that behaves like macOS launchctl for the
// subcommands Morvane uses. Its state lives in $HOME/.launchd-standin (see state_dir.h).

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "commands.h"
#include "usage.h"

namespace launchctl {
namespace {

/// Handles `help [subcommand]`.
int runHelp(const Subcommand&, Args args) {
  if (args.empty()) {
    printOverview(stdout);
    return 0;
  }
  for (const Subcommand& sub : subcommands()) {
    if (sub.name == args[0]) {
      std::printf("Usage: %.*s\n", static_cast<int>(sub.usage.size()), sub.usage.data());
      return 0;
    }
  }
  std::fprintf(stderr, "Unrecognized subcommand: %s\n", args[0].c_str());
  return usageError(kGeneralUsage);
}

constexpr Subcommand kSubcommands[] = {
    {"bootstrap", "launchctl bootstrap <domain-target> <service-path> [service-path ...]",
     "Bootstraps a service into a domain.", runBootstrap},
    {"bootout", "launchctl bootout <service-target>", "Removes a service from its domain.",
     runBootout},
    {"enable", "launchctl enable <service-target>", "Enables an existing service.", runEnable},
    {"disable", "launchctl disable <service-target>", "Disables an existing service.", runDisable},
    {"print-disabled", "launchctl print-disabled <domain-target>",
     "Prints which services are disabled.", runPrintDisabled},
    {"list", "launchctl list", "Lists information about services.", runList},
    {"print", "launchctl print <service-target>", "Prints a description of a service.", runPrint},
    {"help", "launchctl help [subcommand]", "Prints the usage for a given subcommand.", runHelp},
};

/// Finds the subcommand named `word`, or null.
const Subcommand* findSubcommand(const std::string& word) {
  for (const Subcommand& sub : kSubcommands) {
    if (sub.name == word) {
      return &sub;
    }
  }
  return nullptr;
}

}  // namespace

std::span<const Subcommand> subcommands() {
  return kSubcommands;
}

}  // namespace launchctl

int main(int argc, char** argv) {
  using namespace launchctl;
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    printOverview(stderr);
    return kExitUsage;
  }
  const Subcommand* sub = findSubcommand(words[0]);
  if (sub == nullptr) {
    std::fprintf(stderr, "Unrecognized subcommand: %s\n", words[0].c_str());
    return usageError(kGeneralUsage);
  }
  try {
    return sub->run(*sub, Args(words).subspan(1));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "launchctl: %s\n", e.what());
    return kExitFailure;
  }
}
