#pragma once

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace morvane::testing {

/// A real systemd user manager of the test's own, for root on a machine whose PID 1 is not
/// systemd: it runs in private mount, cgroup, UTS and IPC namespaces, inside a cgroup of its
/// own (a unique name, so concurrent test programs never meet), with /run private to it. Its
/// runtime directory lies in an ordinary temporary folder, so programs outside connect to its
/// private socket and see its process ids as they are. Stopping it ends every process it
/// started and removes its cgroups and files.
class UserManagerSandbox {
 public:
  struct Options {
    /// The manager's HOME (its ~/.config/systemd/user); a test keeps it across restarts.
    std::filesystem::path home;
    /// Also run a journald private to the sandbox (its journal is read from inside(), below).
    bool journal = false;
  };

  /// Starts a manager and waits until it answers (about half a second). The error says why it
  /// cannot run here, for the test to report as its reason to skip.
  static std::expected<std::unique_ptr<UserManagerSandbox>, std::string> start(Options options);

  ~UserManagerSandbox();
  UserManagerSandbox(const UserManagerSandbox&) = delete;
  UserManagerSandbox& operator=(const UserManagerSandbox&) = delete;

  /// XDG_RUNTIME_DIR of the manager; it stays the same across restarts.
  const std::filesystem::path& runtimeDirectory() const { return runtime_; }

  /// XDG_RUNTIME_DIR and HOME for programs that talk to this manager.
  std::map<std::string, std::string> environment() const;

  /// The manager's process id.
  pid_t managerPid() const { return manager_; }

  /// Ends the manager as a logout does and starts a new one on the same home and an emptied
  /// runtime directory: the next login. Fails the test when the new one does not come up.
  void restart();

  /// Ends the manager at once (SIGKILL), as a crash would; its jobs are left to stop().
  void killManager();

  /// The words that run a command inside the sandbox's namespaces (where its journal is).
  std::vector<std::string> inside(const std::vector<std::string>& command) const;

 private:
  UserManagerSandbox(Options options, std::filesystem::path scratch, std::filesystem::path cgroup);
  std::expected<void, std::string> launch();
  void stop();

  Options options_;
  std::filesystem::path scratch_;  ///< Temporary folder: the init script, logs, runtime dir.
  std::filesystem::path runtime_;  ///< scratch_/runtime
  std::filesystem::path cgroup_;   ///< The cgroup everything runs in, on the host.
  pid_t init_ = 0;                 ///< The namespaces' first process, our child.
  pid_t manager_ = 0;
};

}  // namespace morvane::testing
