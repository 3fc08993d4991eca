// `--load` and `--unload` of one agent among many against their floor: the launchctl runs the
// change itself needs, back to back in one shell (the disabled check, bootstrap and one
// confirming list; bootout and one confirming list). Also counts the launchctl runs `--new`
// makes, and prints the unload of an agent only a scan finds (its label is in another file).
//
// Builds a private home with N agents (every tenth one loaded, every seventh disabled), then
// times the command pairs and their floors in alternation so that both see the same machine
// load, and prints the medians and their ratio.
//
// With MORVANE_JOB_ENGINE=systemd the jobs run on a systemd user manager of the benchmark's own
// (root only; without one it says why and does nothing), the floor's launchctl runs included.
//
//   change_vs_floor [agents=1000] [rounds=40] [executable=the built Morvane]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine_user_manager.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// A property list that sleeps from the moment it is loaded.
std::string sleeper(const std::string& label) {
  return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" + label +
         "</string><key>ProgramArguments</key><array><string>/bin/sleep</string>"
         "<string>300</string></array><key>RunAtLoad</key><true/></dict></plist>";
}

/// Runs a shell command line with output discarded; its wall time in microseconds.
double timed(const std::string& command) {
  const std::string line = "{ " + command + "; } >/dev/null";
  const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(2);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  if (status != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(2);
  }
  return micros;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

/// What an strace of execve calls shows so far.
struct Trace {
  std::string commandPid;  ///< The first line is the traced command's own start.
  int runs = 0;            ///< launchctl started
  bool ended = false;      ///< The command itself has exited.
};

Trace readTrace(const fs::path& path) {
  Trace trace;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (trace.commandPid.empty())
      trace.commandPid = line.substr(0, line.find(' '));
    // The launchctl of the bundle the command comes from, which need not be the one built here.
    if (line.find(" execve(\"") != std::string::npos &&
        line.find("/Helpers/launchctl\", [") != std::string::npos)
      ++trace.runs;
    // "<pid>  +++ exited with 0 +++"
    const size_t text = line.find_first_not_of(' ', trace.commandPid.size());
    trace.ended = trace.ended || (line.starts_with(trace.commandPid + " ") &&
                                  text != std::string::npos && line.find("+++ exited") == text);
  }
  return trace;
}

/// How many times `command` executes launchctl, counted by strace; -1 without strace.
///
/// strace follows every descendant, and a load leaves a job running: it is stopped, which
/// detaches it from them (it may be interrupted), once the traced command itself has ended.
int launchctlRuns(const std::vector<std::string>& command, const fs::path& scratch) {
  const fs::path trace = scratch / "trace";
  fs::remove(trace);
  // Only successful calls, each on one line: runs that overlap would split theirs in two.
  std::vector<std::string> words = {"strace", "-I",           "1",  "-f",          "-q", "-z",
                                    "-e",     "trace=execve", "-o", trace.string()};
  words.insert(words.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t strace = 0;
  const int spawned = posix_spawnp(&strace, "strace", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0)
    return -1;
  for (bool straceEnded = false;;) {
    int status = 0;
    straceEnded = straceEnded || waitpid(strace, &status, WNOHANG) == strace;
    const Trace seen = readTrace(trace);
    if (straceEnded)
      return seen.commandPid.empty() ? -1 : seen.runs;
    if (seen.ended) {
      ::kill(strace, SIGTERM);
      while (waitpid(strace, nullptr, 0) < 0) {
      }
      return seen.runs;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int agents = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 40;
  char pattern[] = "/tmp/morvane-change-bench-XXXXXX";
  const fs::path home = ::mkdtemp(pattern);
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("MORVANE_HOME", (home / "data").c_str(), 1);
  ::setenv("MORVANE_LANG", "en", 1);
  ::setenv("MORVANE_JOB_ENGINE", "builtin", 0);
  const fs::path directory = home / "Library" / "LaunchAgents";
  fs::create_directories(directory);
  auto manager = morvane::bench::userManagerForEngine(home);
  if (!manager) {
    std::printf("skipped: no systemd user manager runs here: %s\n", manager.error().c_str());
    fs::remove_all(home);
    return 0;
  }
  const bool onSystemd = *manager != nullptr;

  const std::string launchctl = quoted(LAUNCHCTL_STANDIN);
  const std::string domain = "gui/" + std::to_string(::getuid());
  for (int i = 0; i < agents; ++i) {
    const std::string label = "com.bench.Agent-" + std::to_string(i);
    const fs::path file = directory / (label + ".plist");
    std::ofstream(file) << sleeper(label);
    if (i % 10 == 5)
      timed(launchctl + " bootstrap " + domain + " " + quoted(file));
    if (i % 7 == 0)
      timed(launchctl + " disable " + domain + "/" + label);
  }
  // One agent a name only finds by scanning: its label is in a file of another name.
  std::ofstream(directory / "scanned.plist") << sleeper("com.bench.scanned");

  const std::string morvane = quoted(argc > 3 ? argv[3] : MORVANE_EXECUTABLE);
  const std::string label = "com.bench.Agent-" + std::to_string(agents / 2 + 1);
  const std::string path = quoted(directory / (label + ".plist"));
  const std::string change = morvane + " --load " + label + " && " + morvane + " --unload " + label;
  const std::string floor = launchctl + " print-disabled " + domain + "; " + launchctl +
                            " bootstrap " + domain + " " + path + " && " + launchctl + " list; " +
                            launchctl + " bootout " + domain + "/" + label + " && " + launchctl +
                            " list";
  const std::string scanned =
      morvane + " --load com.bench.scanned && " + morvane + " --unload com.bench.scanned";
  timed(morvane + " --list");  // writes the settings file once, as a first start does
  std::vector<double> changeTimes, floorTimes, scanTimes;
  for (int round = 0; round < rounds; ++round) {
    changeTimes.push_back(timed(change));
    floorTimes.push_back(timed(floor));
    scanTimes.push_back(timed(scanned));
  }
  const double ours = median(changeTimes), base = median(floorTimes);
  std::printf(
      "agents %d, rounds %d, %s engine: --load+--unload %.2f ms, floor %.2f ms, ratio %.2f "
      "(target 1.5)\n",
      agents, rounds, onSystemd ? "systemd" : "built-in", ours / 1000, base / 1000, ours / base);
  std::printf("  by a name only a scan finds: %.2f ms, ratio %.2f\n", median(scanTimes) / 1000,
              median(scanTimes) / base);

  const std::string executable = argc > 3 ? argv[3] : MORVANE_EXECUTABLE;
  const int newRuns =
      launchctlRuns({executable, "--new", "com.bench.new", "--", "/bin/sleep", "300"}, home);
  const int loadRuns = launchctlRuns({executable, "--load", label}, home);
  const int unloadRuns = launchctlRuns({executable, "--unload", label}, home);
  if (newRuns >= 0)
    std::printf("launchctl runs: --new %d (target 3), --load %d, --unload %d\n", newRuns, loadRuns,
                unloadRuns);
  else
    std::printf("launchctl runs: not counted (no strace)\n");
  timed(launchctl + " bootout " + domain + "/com.bench.new || true");
  for (int i = 5; i < agents; i += 10)
    timed(launchctl + " bootout " + domain + "/com.bench.Agent-" + std::to_string(i));
  manager->reset();  // ends every job it ran
  fs::remove_all(home);
  return 0;
}
