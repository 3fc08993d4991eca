#include "user_manager_sandbox.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr auto kStopLimit = std::chrono::seconds(15);

/// Runs as the first process of the new namespaces: a private cgroup2 view rooted at the
/// sandbox's cgroup, a private /run (which makes systemd believe it was booted with systemd),
/// the cgroups systemd expects, an optional journald, then the manager; it waits for the manager
/// and leaves when it has gone.
constexpr char kInitScript[] = R"(#!/bin/sh
set -e
scratch=$1 home=$2 journal=$3 uid=$(id -u)
mount -t cgroup2 cgroup2 /sys/fs/cgroup
mount -t tmpfs -o mode=755 tmpfs /run
mkdir -p /run/systemd/system
user=/sys/fs/cgroup/user.slice/user-$uid.slice/user@$uid.service
mkdir -p /sys/fs/cgroup/init.scope /sys/fs/cgroup/system.slice/systemd-journald.service "$user"
echo $$ > /sys/fs/cgroup/init.scope/cgroup.procs
: > /run/console
mount --bind /run/console /dev/console
if [ "$journal" = yes ]; then
  printf '[Journal]\nStorage=volatile\nReadKMsg=no\nForwardToSyslog=no\nForwardToKMsg=no\nForwardToConsole=no\nForwardToWall=no\n' > /run/journald.conf
  mount --bind /run/journald.conf /etc/systemd/journald.conf
  sh -c 'echo $$ > /sys/fs/cgroup/system.slice/systemd-journald.service/cgroup.procs
         exec /lib/systemd/systemd-journald' > "$scratch/journald.log" 2>&1 &
  journald=$!
  for i in $(seq 200); do [ -S /run/systemd/journal/stdout ] && break; sleep 0.05; done
  target=journal
else
  target=console
fi
set +e
sh -c 'echo $$ > "$1/cgroup.procs"; echo $$ > "$2/manager.pid.new"; mv "$2/manager.pid.new" "$2/manager.pid"
       exec env -i PATH=/usr/local/bin:/usr/bin:/bin XDG_RUNTIME_DIR="$2/runtime" HOME="$3" \
         /lib/systemd/systemd --user --log-target=$4' \
  sh "$user" "$scratch" "$home" "$target" >> "$scratch/manager.log" 2>&1 &
wait $!
[ -n "${journald:-}" ] && kill $journald && wait $journald
exit 0
)";

/// Where cgroup2 is mounted on the host: the unified hierarchy of a hybrid setup, or the root.
std::expected<fs::path, std::string> cgroup2Root() {
  for (const char* candidate : {"/sys/fs/cgroup/unified", "/sys/fs/cgroup"}) {
    std::error_code ignored;
    if (fs::exists(fs::path(candidate) / "cgroup.controllers", ignored))
      return fs::path(candidate);
  }
  return std::unexpected("no cgroup2 hierarchy is mounted");
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline)
      return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

/// Whether something accepts connections on the unix socket `path` (the file appears before the
/// manager listens on it).
bool accepts(const fs::path& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

bool processGone(pid_t pid) {
  if (pid <= 0)
    return true;
  const std::string stat = readAll("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return stat.empty() || close == std::string::npos || stat[close + 2] == 'Z';
}

/// Kills every process left in `cgroup` and its children, then removes the cgroups.
void clearCgroup(const fs::path& cgroup) {
  std::error_code ignored;
  if (!fs::exists(cgroup, ignored))
    return;
  std::ofstream(cgroup / "cgroup.kill") << "1";
  waitFor(
      [&] { return readAll(cgroup / "cgroup.events").find("populated 0") != std::string::npos; },
      std::chrono::seconds(5));
  std::vector<fs::path> directories;
  for (auto it = fs::recursive_directory_iterator(cgroup, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored))
      directories.push_back(it->path());
  }
  // Deepest first.
  std::sort(directories.begin(), directories.end(),
            [](const fs::path& a, const fs::path& b) { return a.string() > b.string(); });
  for (const fs::path& directory : directories)
    ::rmdir(directory.c_str());
  ::rmdir(cgroup.c_str());
}

}  // namespace

std::expected<std::unique_ptr<UserManagerSandbox>, std::string> UserManagerSandbox::start(
    Options options) {
  if (::geteuid() != 0)
    return std::unexpected(
        "a systemd user manager in private namespaces needs root (the manager cannot create its "
        "cgroups otherwise)");
  for (const char* tool : {"/lib/systemd/systemd", "/usr/bin/unshare", "/usr/bin/nsenter"}) {
    if (::access(tool, X_OK) != 0)
      return std::unexpected(std::string(tool) + " is not installed");
  }
  const auto root = cgroup2Root();
  if (!root)
    return std::unexpected(root.error());
  static std::atomic<int> counter = 0;
  const std::string name = "morvane-user-manager-" + std::to_string(::getpid()) + "-" +
                           std::to_string(counter++) + "-" + std::to_string(::random() % 100000);
  std::string pattern = (fs::temp_directory_path() / "morvane-user-manager-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    return std::unexpected("mkdtemp failed");
  std::unique_ptr<UserManagerSandbox> sandbox(
      new UserManagerSandbox(std::move(options), pattern, *root / name));
  if (auto launched = sandbox->launch(); !launched)
    return std::unexpected(launched.error());
  return sandbox;
}

UserManagerSandbox::UserManagerSandbox(Options options, fs::path scratch, fs::path cgroup)
    : options_(std::move(options)),
      scratch_(std::move(scratch)),
      runtime_(scratch_ / "runtime"),
      cgroup_(std::move(cgroup)) {}

UserManagerSandbox::~UserManagerSandbox() {
  stop();
  std::error_code ignored;
  fs::remove_all(scratch_, ignored);
}

std::map<std::string, std::string> UserManagerSandbox::environment() const {
  return {{"XDG_RUNTIME_DIR", runtime_.string()}, {"HOME", options_.home.string()}};
}

std::expected<void, std::string> UserManagerSandbox::launch() {
  std::error_code error;
  fs::create_directories(runtime_, error);
  ::chmod(runtime_.c_str(), 0700);
  fs::remove(scratch_ / "manager.pid", error);
  std::ofstream(scratch_ / "init.sh") << kInitScript;
  if (::mkdir(cgroup_.c_str(), 0755) != 0 && errno != EEXIST)
    return std::unexpected("cannot create the cgroup " + cgroup_.string());
  const std::string procs = (cgroup_ / "cgroup.procs").string();
  const std::string script = (scratch_ / "init.sh").string();
  const std::string log = (scratch_ / "init.log").string();
  const std::string home = options_.home.string();
  const std::string scratch = scratch_.string();
  const char* journal = options_.journal ? "yes" : "no";
  init_ = ::fork();
  if (init_ == 0) {
    // Into the cgroup first, so the new cgroup namespace is rooted there.
    std::ofstream(procs) << ::getpid();
    ::freopen(log.c_str(), "a", stdout);
    ::dup2(STDOUT_FILENO, STDERR_FILENO);
    ::execl("/usr/bin/unshare", "unshare", "--mount", "--propagation", "private", "--cgroup",
            "--uts", "--ipc", "/bin/sh", script.c_str(), scratch.c_str(), home.c_str(), journal,
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const fs::path socket = runtime_ / "systemd" / "private";
  const bool up = waitFor(
      [&] {
        int status = 0;
        if (::waitpid(init_, &status, WNOHANG) == init_) {
          init_ = 0;
          return true;
        }
        return fs::exists(scratch_ / "manager.pid") && accepts(socket);
      },
      kStartLimit);
  if (!up || init_ == 0) {
    const std::string why = readAll(scratch_ / "init.log") + readAll(scratch_ / "manager.log");
    stop();
    return std::unexpected("the user manager did not start: " + why);
  }
  manager_ = static_cast<pid_t>(std::stol(readAll(scratch_ / "manager.pid")));
  return {};
}

void UserManagerSandbox::stop() {
  if (manager_ > 0 && !processGone(manager_)) {
    // A user manager takes SIGTERM as the request to exit, as at logout.
    ::kill(manager_, SIGTERM);
    waitFor([&] { return processGone(manager_); }, kStopLimit);
  }
  manager_ = 0;
  if (init_ > 0) {
    int status = 0;
    const bool ended = waitFor([&] { return ::waitpid(init_, &status, WNOHANG) == init_; },
                               std::chrono::seconds(5));
    if (!ended) {
      ::kill(init_, SIGKILL);
      ::waitpid(init_, &status, 0);
    }
    init_ = 0;
  }
  clearCgroup(cgroup_);
}

void UserManagerSandbox::restart() {
  stop();
  std::error_code ignored;
  fs::remove_all(runtime_, ignored);
  const auto launched = launch();
  ASSERT_TRUE(launched) << launched.error();
}

void UserManagerSandbox::killManager() {
  ::kill(manager_, SIGKILL);
  waitFor([&] { return processGone(manager_); }, kStopLimit);
}

std::vector<std::string> UserManagerSandbox::inside(const std::vector<std::string>& command) const {
  std::vector<std::string> words = {
      "/usr/bin/nsenter", "-t", std::to_string(init_), "-m", "-C", "--"};
  words.insert(words.end(), command.begin(), command.end());
  return words;
}

}  // namespace morvane::testing
