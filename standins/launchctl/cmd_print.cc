// `print <service-target>`: what the manager knows of one loaded job, in launchd's block form,
// with a "run history" block of its last runs (run_history.h gives a line's form) and, on the
// systemd engine, when its timer next starts it ("next run = <seconds since the epoch>").

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <optional>

#include "builtin_engine.h"
#include "commands.h"
#include "engines.h"
#include "run_record.h"
#include "state.h"
#include "state_dir.h"
#include "state_lock.h"
#include "target.h"

namespace launchctl {
namespace {

/// Exit status of print for a service that is not loaded, as launchd's (ESRCH's neighbour 113).
constexpr int kNoSuchService = 113;

void printJob(const std::string& target, const ListedJob& job, const std::string& path,
              const morvane::Runs& runs, std::optional<std::time_t> nextRun = std::nullopt) {
  std::printf("%s = {\n", target.c_str());
  if (!path.empty()) {
    std::printf("\tpath = %s\n", path.c_str());
  }
  std::printf("\tstate = %s\n", job.pid ? "running" : "not running");
  if (job.pid) {
    std::printf("\tpid = %d\n", static_cast<int>(*job.pid));
  }
  std::printf("\tlast exit code = %d\n", job.lastStatus);
  if (nextRun) {
    std::printf("\tnext run = %lld\n", static_cast<long long>(*nextRun));
  }
  std::printf("\trun history = {\n");
  for (const morvane::Run& run : runs) {
    std::printf("\t\t%s\n", morvane::runLine(run).c_str());
  }
  std::printf("\t}\n}\n");
}

}  // namespace

int runPrint(const Subcommand& self, Args args) {
  const auto label = serviceArgument(args, self.usage);
  if (!label) {
    return label.error();
  }
  Engines engines = chooseEngines();
  const std::filesystem::path dir = stateDirectory();
  const std::string target = "gui/" + std::to_string(getuid()) + "/" + *label;
  {
    const StateLock lock(dir);
    State state = loadState(dir);
    bool forgot = false;
    const std::vector<ListedJob> jobs = builtin::listJobs(state, forgot);
    if (forgot) {
      saveState(dir, state);
    }
    for (const ListedJob& job : jobs) {
      if (job.label != *label) {
        continue;
      }
      morvane::Runs runs = readRunRecord(runRecordFolder(dir), *label);
      // A run left open by a supervisor that was killed is not under way.
      if (!job.pid) {
        std::erase_if(runs, [](const morvane::Run& run) { return !run.ended; });
      }
      printJob(target, job, state.jobs.at(*label).plistPath, runs);
      return 0;
    }
  }
  if (engines.systemd) {
    for (const ListedJob& job : engines.systemd->jobs()) {
      if (job.label == *label) {
        printJob(target, job, "", engines.systemd->runs(*label, runRecordFolder(dir)),
                 engines.systemd->nextRun(*label));
        return 0;
      }
    }
  }
  std::fprintf(stderr, "Could not find service \"%s\" in domain for user gui: %d\n", label->c_str(),
               static_cast<int>(getuid()));
  return kNoSuchService;
}

}  // namespace launchctl
