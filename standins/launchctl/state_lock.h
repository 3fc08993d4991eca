#pragma once

#include <filesystem>

namespace launchctl {

/// Holds an exclusive flock on the state directory's `lock` file for as long as it lives, so
/// that invocations (and supervisors) read and change the state one at a time.
class StateLock {
 public:
  /// Blocks until the lock in `stateDir` is ours; throws when the lock file cannot be opened.
  explicit StateLock(const std::filesystem::path& stateDir);
  ~StateLock();
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  int fd_;
};

}  // namespace launchctl
