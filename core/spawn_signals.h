#pragma once

#include <signal.h>
#include <spawn.h>

namespace morvane {

/// Sets spawn attributes so that the child starts with no blocked signals and default handlers,
/// whatever this process set, and with `flags` besides.
inline void startWithDefaultSignals(posix_spawnattr_t& attributes, short flags = 0) {
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(
      &attributes, static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | flags));
}

}  // namespace morvane
