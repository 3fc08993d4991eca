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
int SetOverride(const Subcommand& self, Args args, bool disabled) {
  if (args.size() != 1) {
    return UsageError(self.usage);
  }
  const auto label = ResolveService(args[0], self.usage);
  if (!label) {
    return label.error();
  }
  const std::filesystem::path dir = StateDirectory();
  const StateLock lock(dir);
  State state = LoadState(dir);
  state.disabled[*label] = disabled;
  SaveState(dir, state);
  return 0;
}

}  // namespace

int RunEnable(const Subcommand& self, Args args) {
  return SetOverride(self, args, false);
}

int RunDisable(const Subcommand& self, Args args) {
  return SetOverride(self, args, true);
}

int RunPrintDisabled(const Subcommand& self, Args args) {
  if (args.size() != 1) {
    return UsageError(self.usage);
  }
  if (const auto domain = ResolveDomain(args[0], self.usage); !domain) {
    return domain.error();
  }
  const std::filesystem::path dir = StateDirectory();
  const StateLock lock(dir);
  const State state = LoadState(dir);
  std::printf("\n\tdisabled services = {\n");
  for (const auto& [label, disabled] : state.disabled) {
    std::printf("\t\t\"%s\" => %s\n", label.c_str(), disabled ? "disabled" : "enabled");
  }
  std::printf("\t}\n\n\tlogin item associations = {\n\t}\n");
  return 0;
}

}  // namespace launchctl
