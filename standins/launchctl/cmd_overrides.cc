#include <cstdio>

#include "commands.h"
#include "state.h"
#include "state_dir.h"
#include "state_lock.h"
#include "target.h"
#include "usage.h"

namespace launchctl {
namespace {

/// Records the override for the service target in `args`; it does not touch a loaded job.
int setOverride(const Subcommand& self, Args args, bool disabled) {
  const auto label = serviceArgument(args, self.usage);
  if (!label) {
    return label.error();
  }
  const std::filesystem::path dir = stateDirectory();
  const StateLock lock(dir);
  State state = loadState(dir);
  state.disabled[*label] = disabled;
  saveState(dir, state);
  return 0;
}

}  // namespace

int runEnable(const Subcommand& self, Args args) {
  return setOverride(self, args, false);
}

int runDisable(const Subcommand& self, Args args) {
  return setOverride(self, args, true);
}

int runPrintDisabled(const Subcommand& self, Args args) {
  if (args.size() != 1) {
    return usageError(self.usage);
  }
  if (const auto domain = resolveDomain(args[0], self.usage); !domain) {
    return domain.error();
  }
  const std::filesystem::path dir = stateDirectory();
  const StateLock lock(dir);
  const State state = loadState(dir);
  std::printf("\n\tdisabled services = {\n");
  for (const auto& [label, disabled] : state.disabled) {
    std::printf("\t\t\"%s\" => %s\n", label.c_str(), disabled ? "disabled" : "enabled");
  }
  std::printf("\t}\n\n\tlogin item associations = {\n\t}\n");
  return 0;
}

}  // namespace launchctl
