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
bool ShowsAsRunning(const JobRecord& record) {
  return IsRunning(record.job) || (Exists(record.job) && IsRunning(record.supervisor));
}

}  // namespace

int RunList(const Subcommand& self, Args args) {
  // Only the whole-domain listing is provided; `list <label>` is not.
  if (!args.empty()) {
    return UsageError(self.usage);
  }
  const std::filesystem::path dir = StateDirectory();
  const StateLock lock(dir);
  const State state = LoadState(dir);
  std::printf("PID\tStatus\tLabel\n");
  for (const auto& [label, record] : state.jobs) {
    if (ShowsAsRunning(record)) {
      std::printf("%d\t%d\t%s\n", static_cast<int>(record.job.pid), record.last_status,
                  label.c_str());
    } else {
      std::printf("-\t%d\t%s\n", record.last_status, label.c_str());
    }
  }
  return 0;
}

}  // namespace launchctl
