#pragma once

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace user_manager {

/// A failure while talking to the user's systemd manager, as one line (for example when the
/// manager went away in the middle of a command).
struct ManagerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// A unit the manager holds in memory.
struct UnitStatus {
  std::string name;
  std::string description;
  std::string activeState;  ///< active, activating, deactivating, reloading, inactive or failed
  std::string subState;     ///< For a service: running, exited, auto-restart, stop-sigterm, …
};

/// Whether a unit in `activeState` is up or on its way up or down (not inactive or failed).
bool isLive(const std::string& activeState);

/// The caller's runtime directory, where the user's manager listens: XDG_RUNTIME_DIR, or where
/// systemd puts it when that is not set to an absolute path (as under cron, su or sudo -u),
/// /run/user/<uid>.
std::filesystem::path userRuntimeDirectory();

/// A connection to the user's systemd manager over its private socket,
/// $XDG_RUNTIME_DIR/systemd/private, through libsystemd's sd-bus. Every call that fails throws
/// ManagerError.
class Connection {
 public:
  /// Connects to the manager whose runtime directory is `runtimeDirectory`; the error says why no
  /// manager answers (no socket, nobody listening on it).
  static std::expected<Connection, std::string> open(
      const std::filesystem::path& runtimeDirectory = userRuntimeDirectory());

  Connection(Connection&&) noexcept;
  Connection& operator=(Connection&&) noexcept;
  ~Connection();

  /// The manager's XDG_RUNTIME_DIR.
  const std::filesystem::path& runtimeDirectory() const;

  /// The units in memory whose names match any of `patterns` (shell globs).
  std::vector<UnitStatus> listUnits(const std::vector<std::string>& patterns);

  /// The unit `name` when the manager holds it in memory (this never loads it).
  std::optional<UnitStatus> unit(const std::string& name);

  /// Queues a start of `name` (mode "replace") and returns the job's object path.
  std::string startUnit(const std::string& name);

  /// Queues a stop of `name` and returns the job's object path; nullopt when the manager does
  /// not hold the unit (nothing to stop).
  std::optional<std::string> stopUnit(const std::string& name);

  /// Forgets a failed unit's failure, so an unused unit leaves memory; a unit the manager does
  /// not hold is fine.
  void resetFailed(const std::string& name);

  /// Waits until every one of `jobs` has finished or `deadline` passes; returns those still
  /// running.
  std::set<std::string> awaitJobs(std::set<std::string> jobs,
                                  std::chrono::steady_clock::time_point deadline);

  /// How a finished job ended ("done", "failed", "canceled", …); empty while it runs.
  std::string jobResult(const std::string& job) const;

  /// A 64-bit unsigned property of a unit (interface "org.freedesktop.systemd1.<interface>").
  std::uint64_t unitProperty(const std::string& name, const std::string& interface,
                             const std::string& property);

  /// The manager's environment block, which jobs inherit.
  std::map<std::string, std::string> environment();

  /// Enables unit files (their [Install] section) so they take effect at the next start.
  void enableUnitFiles(const std::vector<std::string>& names);

  /// The underlying bus, for calls this class does not wrap.
  sd_bus* bus() const;

 private:
  struct Shared;
  explicit Connection(std::unique_ptr<Shared> shared);
  std::unique_ptr<Shared> shared_;
};

/// The object path of the unit `name`.
std::string unitObjectPath(const std::string& name);

/// Raises ManagerError for a failed sd-bus call: `what` is the call, `error` its error reply
/// (may be null) and `result` its negative errno.
[[noreturn]] void raise(const std::string& what, const sd_bus_error* error, int result);

}  // namespace user_manager
