// The systemd engine beside its floors, in one run (needs root, for a user manager of its own):
//
//   - a bootstrap and bootout of one agent against the same work done by systemd's own tools,
//     `systemd-run --user` and `systemctl --user stop`;
//   - `launchctl list` with 100 loaded agents on the systemd engine against the built-in one.
//
// The two sides of each pair are timed in alternation, so that both see the same machine load;
// the medians and their ratio are printed.
//
// Given the path of another launchctl (a build of an earlier version), each of these is also
// timed with it, in alternation, and the ratio of this one to it is printed; so is a bootout
// alone on each engine.
//
//   engine_bench [rounds=40] [agents=100] [reference-launchctl]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "user_manager_sandbox.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// Runs a command line (no shell) with the given environment and output discarded; its wall
/// time in microseconds. Exits the benchmark when the command fails.
double timed(const std::vector<std::string>& words, const std::map<std::string, std::string>& env) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!env.contains(text.substr(0, text.find('='))))
      entries.push_back(text);
  }
  for (const auto& [name, value] : env)
    entries.push_back(name + "=" + value);
  std::vector<char*> envp, argv;
  for (std::string& entry : entries)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> copy = words;
  for (std::string& word : copy)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
    std::perror(argv[0]);
    std::exit(2);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  if (status != 0) {
    std::fprintf(stderr, "failed: %s\n", words.front().c_str());
    std::exit(2);
  }
  return micros;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

/// A job property list that sleeps from the moment it is loaded.
void writeSleeper(const fs::path& file, const std::string& label) {
  std::ofstream(file) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                         "<key>Label</key><string>"
                      << label
                      << "</string><key>ProgramArguments</key><array><string>/bin/sleep</string>"
                         "<string>300</string></array><key>RunAtLoad</key><true/></dict></plist>";
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 40;
  const int agents = argc > 2 ? std::atoi(argv[2]) : 100;
  char pattern[] = "/tmp/morvane-engine-bench-XXXXXX";
  const fs::path home = ::mkdtemp(pattern);
  auto manager = morvane::testing::UserManagerSandbox::start({home, false});
  if (!manager) {
    std::fprintf(stderr, "no user manager: %s\n", manager.error().c_str());
    fs::remove_all(home);
    return 1;
  }
  const std::string domain = "gui/" + std::to_string(::getuid());
  std::map<std::string, std::string> systemd = (*manager)->environment();
  systemd["MORVANE_JOB_ENGINE"] = "systemd";
  const fs::path builtinHome = home / "builtin";
  fs::create_directories(builtinHome);
  const std::map<std::string, std::string> builtin = {
      {"HOME", builtinHome.string()}, {"XDG_RUNTIME_DIR", ""}, {"MORVANE_JOB_ENGINE", "builtin"}};

  // One agent, loaded and unloaded; its floor runs the same sleep as a transient unit.
  const std::string reference = argc > 3 ? argv[3] : "";
  const fs::path cycle = home / "bench.cycle.plist";
  writeSleeper(cycle, "bench.cycle");
  const fs::path referenceCycle = home / "bench.reference.plist";
  writeSleeper(referenceCycle, "bench.reference");
  // This launchctl beside the reference on each engine: a bootstrap and bootout, and `list`.
  const auto compare = [&](const char* what, const std::function<double(const std::string&)>& run) {
    if (reference.empty())
      return;
    std::vector<double> ours, theirs;
    for (int round = 0; round < rounds; ++round) {
      ours.push_back(run(LAUNCHCTL_STANDIN));
      theirs.push_back(run(reference));
    }
    std::printf("%s: %.2f ms, reference %.2f ms, ratio %.3f\n", what, median(ours) / 1000,
                median(theirs) / 1000, median(ours) / median(theirs));
  };
  const auto cycleOn = [&](const std::map<std::string, std::string>& env) {
    return [&, env](const std::string& launchctl) {
      const bool ours = launchctl == LAUNCHCTL_STANDIN;
      const fs::path& file = ours ? cycle : referenceCycle;
      const std::string label = ours ? "bench.cycle" : "bench.reference";
      return timed({launchctl, "bootstrap", domain, file.string()}, env) +
             timed({launchctl, "bootout", domain + "/" + label}, env);
    };
  };
  const std::vector<std::string> systemdRun = {"/bin/systemd-run",   "--user",     "--quiet",
                                               "--unit=bench-floor", "/bin/sleep", "300"};
  const std::vector<std::string> systemctlStop = {"/bin/systemctl", "--user", "stop",
                                                  "bench-floor"};
  timed({LAUNCHCTL_STANDIN, "list"}, systemd);  // installs the login unit, as a first use does
  std::vector<double> cycleTimes, cycleFloor;
  for (int round = 0; round < rounds; ++round) {
    cycleTimes.push_back(timed({LAUNCHCTL_STANDIN, "bootstrap", domain, cycle.string()}, systemd) +
                         timed({LAUNCHCTL_STANDIN, "bootout", domain + "/bench.cycle"}, systemd));
    cycleFloor.push_back(timed(systemdRun, systemd) + timed(systemctlStop, systemd));
  }
  std::printf(
      "bootstrap+bootout on systemd %.2f ms, systemd-run+systemctl stop %.2f ms, "
      "ratio %.2f (target 1.5)\n",
      median(cycleTimes) / 1000, median(cycleFloor) / 1000,
      median(cycleTimes) / median(cycleFloor));
  compare("bootstrap+bootout on systemd", cycleOn(systemd));
  compare("bootstrap+bootout on the built-in engine", cycleOn(builtin));
  // Bootout alone, right after the bootstrap: on the built-in engine while a new supervisor may
  // still be starting up, on systemd while the job's start may still be under way.
  const auto bootoutOn = [&](const std::map<std::string, std::string>& env) {
    return [&, env](const std::string& launchctl) {
      const bool ours = launchctl == LAUNCHCTL_STANDIN;
      timed({launchctl, "bootstrap", domain, (ours ? cycle : referenceCycle).string()}, env);
      return timed(
          {launchctl, "bootout", domain + "/" + (ours ? "bench.cycle" : "bench.reference")}, env);
    };
  };
  compare("bootout on systemd", bootoutOn(systemd));
  compare("bootout on the built-in engine", bootoutOn(builtin));

  // `list` with the same agents loaded on each engine.
  for (int i = 0; i < agents; ++i) {
    const std::string label = "com.bench.agent" + std::to_string(i);
    const fs::path file = home / (label + ".plist");
    writeSleeper(file, label);
    timed({LAUNCHCTL_STANDIN, "bootstrap", domain, file.string()}, systemd);
    timed({LAUNCHCTL_STANDIN, "bootstrap", domain, file.string()}, builtin);
  }
  std::vector<double> systemdList, builtinList;
  for (int round = 0; round < rounds; ++round) {
    systemdList.push_back(timed({LAUNCHCTL_STANDIN, "list"}, systemd));
    builtinList.push_back(timed({LAUNCHCTL_STANDIN, "list"}, builtin));
  }
  std::printf(
      "list with %d agents: systemd engine %.2f ms, built-in engine %.2f ms, "
      "ratio %.2f (target 2)\n",
      agents, median(systemdList) / 1000, median(builtinList) / 1000,
      median(systemdList) / median(builtinList));
  compare("list on systemd", [&](const std::string& launchctl) {
    return timed({launchctl, "list"}, systemd);
  });
  compare("list on the built-in engine", [&](const std::string& launchctl) {
    return timed({launchctl, "list"}, builtin);
  });
  for (int i = 0; i < agents; ++i)
    timed({LAUNCHCTL_STANDIN, "bootout", domain + "/com.bench.agent" + std::to_string(i)}, builtin);
  manager->reset();
  fs::remove_all(home);
  return 0;
}
