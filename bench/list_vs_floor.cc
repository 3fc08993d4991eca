// `--list` against its floor: the same two launchctl runs back to back in one shell (and, beside
// it, those runs followed by reading every agent file, the whole work done one step at a time).
//
// Builds a private home with N agents (every tenth one loaded into the bundled launchctl, every
// seventh disabled, half of them binary property lists), then times the two commands in
// alternation so that both see the same machine load, and prints the medians and their ratio.
//
// With MORVANE_JOB_ENGINE=systemd the agents are loaded on a systemd user manager of the
// benchmark's own (root only; without one it says why and does nothing): of the loaded ones half
// run and half have ended with a failure, and the floor is what systemd's own tools pay for the
// same answer, `systemctl --user list-units` plus opening and reading every agent file; the
// bundled `launchctl list` is also timed alone beside `systemctl --user list-units`, the engine's
// own share of the gap.
//
//   list_vs_floor [agents=1000] [rounds=200] [executable=the built Morvane]
#include <dirent.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <spawn.h>
#include <sys/resource.h>
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
#include <vector>

#include "engine_user_manager.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/// How a loaded agent is found when the list is read.
enum class Run { never, running, failed };

std::string propertyList(const std::string& label, bool binary, Run run = Run::never) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "Label", plist_new_string(label.c_str()));
  plist_t arguments = plist_new_array();
  plist_array_append_item(arguments,
                          plist_new_string(run == Run::failed ? "/bin/false" : "/bin/sleep"));
  plist_array_append_item(arguments, plist_new_string("300"));
  plist_dict_set_item(root, "ProgramArguments", arguments);
  plist_dict_set_item(root, "KeepAlive", plist_new_bool(0));
  if (run != Run::never)
    plist_dict_set_item(root, "RunAtLoad", plist_new_bool(1));
  char* bytes = nullptr;
  uint32_t length = 0;
  if (binary)
    plist_to_bin(root, &bytes, &length);
  else
    plist_to_xml(root, &bytes, &length);
  std::string result(bytes, length);
  std::free(bytes);
  plist_free(root);
  return result;
}

/// The user manager whose work counts with each command's (0: none).
pid_t managerPid = 0;

double micros(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
}

/// CPU time the user manager has used, in microseconds (in clock ticks: summed over many runs).
double managerCpu() {
  if (managerPid == 0)
    return 0;
  std::ifstream in("/proc/" + std::to_string(managerPid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string skipped;
  for (int field = 3; field < 14; ++field)
    fields >> skipped;
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) * 1e6 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

/// Runs a shell command line with output discarded; its wall time in microseconds. Adds the CPU
/// time it took, with its children's and the user manager's, to `cpu`.
double timed(const std::string& command, double* cpu = nullptr) {
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  const double managerBefore = managerCpu();
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(2);
  }
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
  }
  const double wall = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  if (status != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(2);
  }
  if (cpu != nullptr)
    *cpu += micros(usage.ru_utime) + micros(usage.ru_stime) + managerCpu() - managerBefore;
  return wall;
}

/// Opens, reads and closes every file in `directory` on this one thread, parsing nothing: the
/// system's own share of a scan. Its wall time in microseconds; adds its CPU time to `cpu`.
double readingAlone(const fs::path& directory, double* cpu = nullptr) {
  rusage before{};
  ::getrusage(RUSAGE_THREAD, &before);
  const auto start = Clock::now();
  DIR* listing = ::opendir(directory.c_str());
  std::vector<char> buffer(16 << 10);
  while (const dirent* entry = ::readdir(listing)) {
    if (entry->d_name[0] == '.')
      continue;
    const int fd = ::openat(::dirfd(listing), entry->d_name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      continue;
    if (::read(fd, buffer.data(), buffer.size()) < 0)
      std::perror(entry->d_name);
    ::close(fd);
  }
  ::closedir(listing);
  const double wall = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  rusage after{};
  ::getrusage(RUSAGE_THREAD, &after);
  if (cpu != nullptr)
    *cpu += micros(after.ru_utime) + micros(after.ru_stime) - micros(before.ru_utime) -
            micros(before.ru_stime);
  return wall;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

}  // namespace

int main(int argc, char** argv) {
  const int agents = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 200;
  char pattern[] = "/tmp/morvane-list-bench-XXXXXX";
  const fs::path home = ::mkdtemp(pattern);
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("MORVANE_HOME", (home / "data").c_str(), 1);
  ::setenv("MORVANE_LANG", "en", 1);
  const fs::path directory = home / "Library" / "LaunchAgents";
  fs::create_directories(directory);
  auto manager = morvane::bench::userManagerForEngine(home);
  if (!manager) {
    std::printf("skipped: no systemd user manager runs here: %s\n", manager.error().c_str());
    fs::remove_all(home);
    return 0;
  }
  const bool onSystemd = *manager != nullptr;
  if (onSystemd)
    managerPid = (*manager)->managerPid();

  const std::string launchctl = quoted(LAUNCHCTL_STANDIN);
  const std::string domain = "gui/" + std::to_string(::getuid());
  std::vector<std::string> loads(1), disables(1);
  for (int i = 0; i < agents; ++i) {
    const std::string label = "com.bench.Agent-" + std::to_string(i);
    const fs::path file = directory / (label + ".plist");
    const Run run = !onSystemd || i % 10 != 0 ? Run::never
                    : i % 20 == 0             ? Run::running
                                              : Run::failed;
    std::ofstream(file, std::ios::binary) << propertyList(label, i % 2 == 1, run);
    if (i % 10 == 0)
      loads.back() += " " + quoted(file);
    if (i % 7 == 0)
      disables.back() += launchctl + " disable " + domain + "/" + label + " && ";
    if (i % 500 == 499) {
      loads.emplace_back();
      disables.emplace_back();
    }
  }
  for (const std::string& batch : loads)
    if (!batch.empty())
      timed(launchctl + " bootstrap " + domain + batch);
  for (const std::string& batch : disables)
    timed(batch + "true");

  const std::string morvane =
      quoted(argc > 3 ? argv[3] : MORVANE_EXECUTABLE) + " --list >/dev/null";
  // The built-in engine's floor is the two launchctl runs; the systemd engine's is systemd's own
  // listing, with reading the files added to it.
  const std::string floor = onSystemd ? "/bin/systemctl --user list-units >/dev/null"
                                      : launchctl + " list >/dev/null; " + launchctl +
                                            " print-disabled " + domain + " >/dev/null";
  timed(morvane);  // writes the settings file once, as a first start does
  std::vector<double> listTimes, floorTimes, readingTimes, launchctlTimes;
  double listCpu = 0, floorCpu = 0, readingCpu = 0, launchctlCpu = 0;
  for (int round = 0; round < rounds; ++round) {
    listTimes.push_back(timed(morvane, &listCpu));
    floorTimes.push_back(timed(floor, &floorCpu));
    readingTimes.push_back(readingAlone(directory, &readingCpu));
    // The engine's own share: the launchctl run that asks the manager, beside systemd's listing.
    if (onSystemd)
      launchctlTimes.push_back(timed(launchctl + " list >/dev/null", &launchctlCpu));
  }
  std::vector<double> systemdFloor;
  for (size_t round = 0; round < floorTimes.size(); ++round)
    systemdFloor.push_back(floorTimes[round] + readingTimes[round]);
  const double list = median(listTimes);
  const double base = median(onSystemd ? systemdFloor : floorTimes);
  std::printf("agents %d, rounds %d, %s engine: --list %.2f ms, floor %.2f ms, ratio %.2f%s\n",
              agents, rounds, onSystemd ? "systemd" : "built-in", list / 1000, base / 1000,
              list / base, onSystemd ? " (target 1.3)" : "");
  // On a busy machine the threads and runs that overlap on idle cores take turns: CPU time,
  // the user manager's included, tells the work apart from the waiting.
  if (onSystemd)
    floorCpu += readingCpu;
  std::printf(
      "CPU per run, the user manager's included: --list %.2f ms, floor %.2f ms, ratio %.2f\n",
      listCpu / rounds / 1000, floorCpu / rounds / 1000, listCpu / floorCpu);
  if (onSystemd) {
    // Includes the shell both run in, as the floor does.
    const double launchctlList = median(launchctlTimes);
    const double listUnits = median(floorTimes);
    std::printf(
        "launchctl list alone %.2f ms (CPU %.2f ms), systemctl --user list-units %.2f ms (CPU "
        "%.2f ms), ratio %.2f\n",
        launchctlList / 1000, launchctlCpu / rounds / 1000, listUnits / 1000,
        (floorCpu - readingCpu) / rounds / 1000, launchctlList / listUnits);
  }
  // What no scan avoids: the system's cost of opening and reading each file once.
  std::printf("opening and reading the files alone, one thread: %.2f ms\n",
              median(readingTimes) / 1000);
  if (!onSystemd) {
    // The whole of the work done one step after another: both runs, then every file.
    std::vector<double> sequential;
    for (size_t round = 0; round < floorTimes.size(); ++round)
      sequential.push_back(floorTimes[round] + readingTimes[round]);
    std::printf("the two runs and the reading one after the other: %.2f ms, ratio %.2f\n",
                median(sequential) / 1000, list / median(sequential));
  }
  manager->reset();  // ends every job it ran
  if (std::getenv("LIST_BENCH_KEEP") != nullptr)
    std::printf("kept %s\n", home.c_str());
  else
    fs::remove_all(home);
  return 0;
}
