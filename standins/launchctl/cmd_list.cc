#include <cstdio>

#include "builtin_engine.h"
#include "commands.h"
#include "engines.h"
#include "state.h"
#include "state_dir.h"
#include "state_lock.h"
#include "usage.h"

namespace launchctl {

int runList(const Subcommand& self, Args args) {
  // Only the whole-domain listing is provided; `list <label>` is not.
  if (!args.empty()) {
    return usageError(self.usage);
  }
  Engines engines = chooseEngines();
  const std::filesystem::path dir = stateDirectory();
  std::vector<ListedJob> jobs;
  {
    const StateLock lock(dir);
    State state = loadState(dir);
    bool forgot = false;
    jobs = builtin::listJobs(state, forgot);
    if (forgot) {
      saveState(dir, state);
    }
  }
  if (engines.systemd) {
    std::vector<ListedJob> units = engines.systemd->jobs();
    jobs.insert(jobs.end(), units.begin(), units.end());
  }
  std::printf("PID\tStatus\tLabel\n");
  for (const ListedJob& job : jobs) {
    if (job.pid) {
      std::printf("%d\t%d\t%s\n", static_cast<int>(*job.pid), job.lastStatus, job.label.c_str());
    } else {
      std::printf("-\t%d\t%s\n", job.lastStatus, job.label.c_str());
    }
  }
  return 0;
}

}  // namespace launchctl
