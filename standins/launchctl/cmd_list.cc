#include <cstdio>

#include "commands.h"
#include "state.h"
#include "state_dir.h"
#include "state_lock.h"
#include "usage.h"

namespace launchctl {
namespace {

/// A job counts as running until its supervisor has recorded its exit; a job whose supervisor
/// is gone counts as running only while its program really runs.
bool showsAsRunning(const JobRecord& record) {
  return isRunning(record.job) || (exists(record.job) && isRunning(record.supervisor));
}

}  // namespace

int runList(const Subcommand& self, Args args) {
  // Only the whole-domain listing is provided; `list <label>` is not.
  if (!args.empty()) {
    return usageError(self.usage);
  }
  const std::filesystem::path dir = stateDirectory();
  const StateLock lock(dir);
  const State state = loadState(dir);
  std::printf("PID\tStatus\tLabel\n");
  for (const auto& [label, record] : state.jobs) {
    if (showsAsRunning(record)) {
      std::printf("%d\t%d\t%s\n", static_cast<int>(record.job.pid), record.lastStatus,
                  label.c_str());
    } else {
      std::printf("-\t%d\t%s\n", record.lastStatus, label.c_str());
    }
  }
  return 0;
}

}  // namespace launchctl
