// `--list` against its floor: the same two launchctl runs back to back in one shell.
//
// Builds a private home with N agents (every tenth one loaded into the bundled launchctl, every
// seventh disabled, half of them binary property lists), then times the two commands in
// alternation so that both see the same machine load, and prints the medians and their ratio.
//
//   list_vs_floor [agents=1000] [rounds=200] [executable=the built Morvane]
#include <dirent.h>
#include <fcntl.h>
#include <plist/plist.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string propertyList(const std::string& label, bool binary) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "Label", plist_new_string(label.c_str()));
  plist_t arguments = plist_new_array();
  plist_array_append_item(arguments, plist_new_string("/bin/sleep"));
  plist_array_append_item(arguments, plist_new_string("300"));
  plist_dict_set_item(root, "ProgramArguments", arguments);
  plist_dict_set_item(root, "KeepAlive", plist_new_bool(0));
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

/// Runs a shell command line with output discarded; its wall time in microseconds.
double timed(const std::string& command) {
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
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

/// Opens, reads and closes every file in `directory` on this one thread, parsing nothing: the
/// system's own share of a scan. Its wall time in microseconds.
double readingAlone(const fs::path& directory) {
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
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
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

  const std::string launchctl = quoted(LAUNCHCTL_STANDIN);
  const std::string domain = "gui/" + std::to_string(::getuid());
  std::vector<std::string> loads(1), disables(1);
  for (int i = 0; i < agents; ++i) {
    const std::string label = "com.bench.Agent-" + std::to_string(i);
    const fs::path file = directory / (label + ".plist");
    std::ofstream(file, std::ios::binary) << propertyList(label, i % 2 == 1);
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
  const std::string floor =
      launchctl + " list >/dev/null; " + launchctl + " print-disabled " + domain + " >/dev/null";
  timed(morvane);  // writes the settings file once, as a first start does
  std::vector<double> listTimes, floorTimes, readingTimes;
  for (int round = 0; round < rounds; ++round) {
    listTimes.push_back(timed(morvane));
    floorTimes.push_back(timed(floor));
    readingTimes.push_back(readingAlone(directory));
  }
  const double list = median(listTimes), base = median(floorTimes);
  std::printf("agents %d, rounds %d: --list %.2f ms, floor %.2f ms, ratio %.2f\n", agents, rounds,
              list / 1000, base / 1000, list / base);
  // What no scan avoids: the system's cost of opening and reading each file once.
  std::printf("opening and reading the files alone, one thread: %.2f ms\n",
              median(readingTimes) / 1000);
  if (std::getenv("LIST_BENCH_KEEP") != nullptr)
    std::printf("kept %s\n", home.c_str());
  else
    fs::remove_all(home);
  return 0;
}
