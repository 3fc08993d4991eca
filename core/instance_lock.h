#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>

#include "failure.h"

namespace morvane {

/// A lock one process at a time holds on a file, for as long as it keeps this object. The system
/// releases it when the process ends, however it ends, so a crashed holder never blocks the next
/// one. Taking it is a single atomic step: of two processes trying at once, exactly one wins.
class InstanceLock {
 public:
  /// Takes the lock on `file` (created, readable by its owner only, when missing) and writes
  /// this process's id into it. Absent when another process holds it; a Failure when the file
  /// cannot be opened.
  static Result<std::optional<InstanceLock>> acquire(const std::filesystem::path& file);

  /// The process id the holder of the lock on `file` wrote into it (waiting a moment for a
  /// holder that has only just taken the lock); absent when there is none to read.
  static std::optional<pid_t> holder(const std::filesystem::path& file);

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  /// Releases the lock.
  ~InstanceLock();

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace morvane
