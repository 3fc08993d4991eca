#include <cstdio>

#include "builtin_engine.h"
#include "commands.h"
#include "engines.h"
#include "state_dir.h"
#include "target.h"
#include "usage.h"

namespace launchctl {

int runBootout(const Subcommand& self, Args args) {
  const auto label = serviceArgument(args, self.usage);
  if (!label) {
    return label.error();
  }
  Engines engines = chooseEngines();
  int status = builtin::unload(stateDirectory(), *label, kBootoutPatience);
  if (status == kNotLoaded && engines.systemd) {
    status = engines.systemd->unload(*label, kBootoutPatience);
  }
  if (status == kNotLoaded) {
    std::fputs("Boot-out failed: 3: No such process\n", stderr);
  }
  return status;
}

}  // namespace launchctl
