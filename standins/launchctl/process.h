#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>

namespace launchctl {

/// One particular process: its pid plus its start time, which tells it apart from a later
/// process that is given the same pid.
struct ProcessId {
  pid_t pid = 0;            ///< 0 when there is no process.
  std::uint64_t start = 0;  ///< Start time in clock ticks since boot (0 when unknown).
};

/// Returns the identity of the live process `pid` (start 0 when it cannot be read).
ProcessId identify(pid_t pid);

/// What has become of a particular process.
enum class Liveness {
  gone,     ///< No such process, or its pid now names another one.
  exited,   ///< It has exited but is not reaped yet (a zombie).
  running,  ///< It exists and has not exited.
};

/// Where the process `process` is, from one read of its /proc entry (none for pid 0).
Liveness livenessOf(const ProcessId& process);

/// True while the process exists, is the same one, and has not exited (zombies have exited).
bool isRunning(const ProcessId& process);

/// Encodes a wait status the way `list` shows it: the exit code, or minus the signal number.
int displayStatus(int waitStatus);

/// Polls `done` every `step` until it holds or `timeout` passes; returns its last value.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = std::chrono::milliseconds(5));

}  // namespace launchctl
