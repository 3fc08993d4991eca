// How soon the menu-bar application's notice follows a failing run, on each engine: the built-in
// supervisor, and the systemd engine on a user manager of the benchmark's own (root only;
// skipped with the reason otherwise).
//
// The application runs offscreen on a session bus of its own, where a notification service that
// shows nothing notes when each notice is asked for. Each agent writes the time just before it
// exits with status 3; it is loaded once, as agents are only noticed once a minute. For each
// failing run, side by side: when the engine's run record was replaced after the exit (the
// engine's part, which the application cannot be quicker than), and when the notice came.
//
//   notice_latency [runs=10]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
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
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run_history.h"
#include "user_manager_sandbox.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;

constexpr const char* kMonitor = MORVANE_SOURCE_DIR "/tests/Morvane/app/notification_monitor.py";

/// Starts `words` with this process's environment changed by `env`, its output into `output`
/// (the null device when empty); gives its pid.
pid_t spawn(const std::vector<std::string>& words, const Environment& env,
            const fs::path& output = {}) {
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
  const std::string out = output.empty() ? "/dev/null" : output.string();
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
    std::perror(argv[0]);
    std::exit(2);
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int finish(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return status;
}

void end(pid_t pid) {
  ::kill(pid, SIGTERM);
  finish(pid);
}

std::string read(const fs::path& file) {
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool waitFor(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

/// When the notice naming `label` was asked for, seconds since the epoch, from the monitor's
/// lines.
std::optional<double> noticeTime(const fs::path& notices, const std::string& label) {
  std::istringstream lines(read(notices));
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"Notify\"") == std::string::npos ||
        line.find(label + " failed") == std::string::npos)
      continue;
    return std::strtod(line.c_str() + line.find("\"time\": ") + 8, nullptr);
  }
  return std::nullopt;
}

double modified(const fs::path& file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0)
    return 0;
  return double(status.st_mtim.tv_sec) + double(status.st_mtim.tv_nsec) / 1e9;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

/// Runs `runs` failing agents under the application on the engine `env` names, in `home`, and
/// prints how long after each exit its run record and its notice came.
void measure(const char* engine, const fs::path& home, Environment env, int runs) {
  const fs::path agents = home / "Library/LaunchAgents";
  fs::create_directories(agents);
  fs::create_directories(home / "exits");
  for (int i = 0; i < runs; ++i) {
    const std::string label = "com.bench.fails" + std::to_string(i);
    std::ofstream(agents / (label + ".plist"))
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" << label
        << "</string><key>ProgramArguments</key><array><string>/bin/sh</string><string>-c</string>"
           "<string>date +%s.%N &gt; \"$0\"; exit 3</string><string>"
        << (home / "exits" / label).string()
        << "</string></array><key>RunAtLoad</key><true/></dict></plist>";
  }
  // A session bus of its own, with the service that notes the notices.
  const fs::path socket = home / "bus";
  const pid_t bus = spawn(
      {"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=unix:path=" + socket.string()},
      {});
  env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + socket.string();
  env["HOME"] = home.string();
  env["MORVANE_HOME"] = (home / "data").string();
  env["MORVANE_LANG"] = "en";
  env["QT_QPA_PLATFORM"] = "offscreen";
  waitFor([&] { return fs::exists(socket); }, 10);
  const fs::path notices = home / "notices";
  const pid_t monitor = spawn({"/usr/bin/python3", kMonitor, "--serve", notices.string()}, env);
  if (!waitFor([&] { return !read(notices).empty(); }, 30)) {
    std::fprintf(stderr, "%s: the notification service did not start (python3-dbus?)\n", engine);
    end(monitor);
    end(bus);
    return;
  }
  const pid_t app = spawn({MORVANE_EXECUTABLE}, env);
  std::this_thread::sleep_for(std::chrono::seconds(3));  // start-up and the first scan

  std::vector<double> recorded, noticed;
  const std::string domain = "gui/" + std::to_string(::getuid());
  for (int i = 0; i < runs; ++i) {
    const std::string label = "com.bench.fails" + std::to_string(i);
    const fs::path plist = agents / (label + ".plist");
    if (finish(spawn({LAUNCHCTL_STANDIN, "bootstrap", domain, plist.string()}, env)) != 0) {
      std::fprintf(stderr, "%s: bootstrap of %s failed\n", engine, label.c_str());
      continue;
    }
    std::optional<double> notice;
    if (!waitFor([&] { return (notice = noticeTime(notices, label)).has_value(); }, 10)) {
      std::fprintf(stderr, "%s: no notice for %s within 10 s\n", engine, label.c_str());
      continue;
    }
    const double exited = std::strtod(read(home / "exits" / label).c_str(), nullptr);
    const fs::path record = home / ".launchd-standin/runs" / morvane::runRecordName(label);
    recorded.push_back(modified(record) - exited);
    noticed.push_back(*notice - exited);
  }
  end(app);
  for (int i = 0; i < runs; ++i)
    finish(spawn({LAUNCHCTL_STANDIN, "bootout", domain + "/com.bench.fails" + std::to_string(i)},
                 env));
  end(monitor);
  end(bus);
  if (noticed.empty())
    return;
  std::printf(
      "%s engine, %zu failing runs: record after the exit %.1f ms (max %.1f), notice %.1f ms "
      "(max %.1f); the application's own part %.1f ms\n",
      engine, noticed.size(), median(recorded) * 1000,
      *std::max_element(recorded.begin(), recorded.end()) * 1000, median(noticed) * 1000,
      *std::max_element(noticed.begin(), noticed.end()) * 1000,
      (median(noticed) - median(recorded)) * 1000);
  std::fflush(stdout);  // before the user manager forks
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  char pattern[] = "/tmp/morvane-notice-bench-XXXXXX";
  const fs::path root = ::mkdtemp(pattern);

  const fs::path builtinHome = root / "builtin";
  measure("built-in", builtinHome, {{"XDG_RUNTIME_DIR", ""}, {"MORVANE_JOB_ENGINE", "builtin"}},
          runs);

  const fs::path systemdHome = root / "systemd";
  fs::create_directories(systemdHome);
  auto manager = morvane::testing::UserManagerSandbox::start({systemdHome, false});
  if (manager) {
    Environment env;
    for (const auto& [name, value] : (*manager)->environment())
      env[name] = value;
    env["MORVANE_JOB_ENGINE"] = "systemd";
    measure("systemd", systemdHome, env, runs);
    manager->reset();
  } else {
    std::printf("systemd engine skipped: %s\n", manager.error().c_str());
  }
  fs::remove_all(root);
  return 0;
}
